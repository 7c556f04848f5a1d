// Virtual USB devices on an emulated bus: the test-control half of the
// WinUSB (and SetupAPI) emulation. A virtual cutter records every byte it
// receives and can be told to misbehave the ways real devices do.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/emu/win_types.h"
#include "platform/emu/winusb/winusb_api.h"

namespace emu {

// The location path of a device on USB port `port` of the first root hub,
// the first of its SPDRP_LOCATION_PATHS.
inline std::string PortLocationPath(const std::string& port) {
    return "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" + port + ")";
}
inline std::string PortLocationPath(int port) {
    return PortLocationPath(std::to_string(port));
}

struct UsbEndpoint {
    USBD_PIPE_TYPE type;
    UCHAR address;  // bit 7 set: IN
    USHORT maxPacketSize = 64;
};

struct VirtualDeviceConfig {
    USHORT vendorId = 0x2E7A;
    USHORT productId = 0x4C01;
    // The instance-specific segment of the instance ID: the serial number,
    // or a generated segment such as "5&2A3B4C5D&0&3" for a device without one.
    std::string serial = "0001A2";
    // The whole instance ID, when a test needs an odd one; empty: built from
    // the IDs and the serial.
    std::string instanceId;
    // SPDRP_LOCATION_PATHS, in order; the first names the port. Empty: the
    // property cannot be read.
    std::vector<std::string> locationPaths = {PortLocationPath(1)};
    // The property is stored without its terminating zeros.
    bool unterminatedLocationPaths = false;
    // Whether the device exposes a USB device interface (and so a path).
    bool hasInterface = true;
    // Bound to WinUSB; false: to another driver, which lists and opens the
    // device like any other but knows no WinUSB request.
    bool winUsb = true;
    // A file that receives a copy of every byte, as it arrives; none if empty.
    std::string receiveFile;
    // Alternate setting 0 of the interface, in pipe-index order.
    std::vector<UsbEndpoint> endpoints = {{UsbdPipeTypeBulk, 0x81}, {UsbdPipeTypeBulk, 0x02}};
};

// How writes to the bulk-out pipe are accepted.
struct PipeTiming {
    std::chrono::microseconds latency{0};  // per write
    // Bus bandwidth in bytes per millisecond; 0 for unlimited. USB full speed
    // carries at most 19 bulk packets of 64 bytes per 1 ms frame.
    double bytesPerMillisecond = 0;
    // With no latency and no bandwidth limit a write completes inside
    // WinUsb_WritePipe: true returns TRUE at once, false returns
    // ERROR_IO_PENDING; the completion goes through the port either way.
    bool succeedAtOnce = false;
};
constexpr double kFullSpeedBytesPerMillisecond = 19 * 64;

// The error WinUSB reports for I/O on a device that was unplugged.
constexpr DWORD kRemovedDeviceError = ERROR_BAD_COMMAND;
// What CreateFileW answers on a device that is open already: WinUSB's device
// is exclusive, and the I/O manager refuses a second open of an exclusive
// device with STATUS_ACCESS_DENIED.
constexpr DWORD kDeviceInUseError = ERROR_ACCESS_DENIED;

class VirtualDevice {
  public:
    virtual ~VirtualDevice();

    virtual void SetTiming(const PipeTiming& timing) = 0;
    // Each write moves at most `bytes` (0: no limit) and succeeds.
    virtual void AcceptAtMost(ULONG bytes) = 0;
    // Write number `nth` (1-based, counted over the device's life) completes
    // with `error` (0: with success and 0 bytes). `atOnce`: WinUsb_WritePipe
    // itself fails instead of the completion.
    virtual void FailWrite(unsigned long nth, DWORD error, bool atOnce = false) = 0;
    // Closing the device's file handle fails with `error` (the handle is
    // released all the same); 0 to stop.
    virtual void FailClose(DWORD error) = 0;
    // Keep the received bytes and the list of writes (default), or only
    // count them.
    virtual void KeepBytes(bool keep) = 0;

    virtual std::vector<unsigned char> Received() const = 0;
    virtual std::uint64_t ReceivedCount() const = 0;
    // Every write the device was asked for: its pipe and size.
    struct Write {
        UCHAR pipe;
        ULONG size;
    };
    virtual std::vector<Write> Writes() const = 0;
    virtual unsigned long WriteCount() const = 0;
    // File handles open on the device, WinUSB interfaces not yet freed.
    virtual int OpenHandles() const = 0;
    virtual int OpenInterfaces() const = 0;
    // Writes accepted and not yet completed.
    virtual int PendingWrites() const = 0;

    virtual const VirtualDeviceConfig& Config() const = 0;
    virtual std::wstring DevicePath() const = 0;
    virtual std::string InstanceId() const = 0;
};

// Plugs a device into the bus; it is listed and can be opened from now on.
std::shared_ptr<VirtualDevice> PlugIn(const VirtualDeviceConfig& config);
// The device vanishes: it is no longer listed or opened, writes in flight
// and later writes fail with kRemovedDeviceError.
void Unplug(const std::shared_ptr<VirtualDevice>& device);
// Unplugs every device.
void UnplugAll();
// Devices on the bus, in the order they were plugged in.
std::vector<std::shared_ptr<VirtualDevice>> PluggedDevices();

// Devices a program finds plugged in when it starts: the environment
// variable EMU_USB_DEVICES lists them, separated by ';', each as
// "vendor:product:serial:port[:file]" (IDs in hexadecimal, port a number,
// file the receiving file). Read when the bus is first used.
constexpr const char* kDevicesVariable = "EMU_USB_DEVICES";
// ';'-separated ports of those devices bound to another driver than WinUSB.
constexpr const char* kOtherDriverVariable = "EMU_USB_OTHER_DRIVER";

}  // namespace emu
