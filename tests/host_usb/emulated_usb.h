// Emulated USB devices for the host backend's tests and benchmark: umockdev
// lays out the sysfs tree, the /dev/bus/usb nodes and the uevents that
// libusb reads, and this process answers the usbdevfs ioctls itself. A
// cutter keeps every byte written to its bulk-out pipe and can stall, stop
// reading or be unplugged mid-transfer.
//
// The process must run under umockdev's preload library: call
// RunUnderUmockdev first thing in main().
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emulated_usb {

// Re-runs the program under the preload library unless it already is;
// returns only in the re-run process.
void RunUnderUmockdev(int argc, char** argv);

struct DeviceConfig {
    std::uint16_t vendorId = 0x2E7A;
    std::uint16_t productId = 0x4C01;
    std::string serial = "0001A2";  // UTF-8; empty: no serial string descriptor
    int port = 1;                   // on the root hub of bus 1
    int address = 0;                // 0: the next one; else reused
    // The kernel has the serial in sysfs; false: reading it failed when
    // the device arrived, only the device itself can tell.
    bool serialInSysfs = true;
    // How the device answers a string request: Answer, Stall (a protocol
    // stall) or Silent (never, until the request is cancelled).
    enum class Strings { Answer, Stall, Silent } strings = Strings::Answer;
    // Unplugged, its writes in flight end with a transaction error, as USB 3
    // controllers often report first, rather than with -ESHUTDOWN.
    bool transactionErrorOnUnplug = false;
    // Writes complete only when a full-speed bus could have carried them:
    // 64-byte packets, at most 19 in each 1 ms frame.
    bool fullSpeedPacing = false;
    // A slow cutter: each write waits this long before it is completed.
    std::chrono::milliseconds writeDelay{0};
    // The kernel driver that holds interface 0 until a program detaches it:
    // "usblp" (the printer driver), another ("usbhid"), or none.
    std::string driver;
    // Interface 0 has a bulk-out endpoint; without, an interrupt-in one.
    bool bulkOut = true;
    // The kernel set the configuration; a device refused for power, or
    // blocked, has none.
    bool configured = true;
    // 2: the device has two configurations, and the second is in use.
    int activeConfiguration = 1;
    // The device node refuses to open: no udev rule gave this user access.
    bool accessible = true;
};

class Device {
  public:
    virtual ~Device() = default;

    // Bulk-out write `nth` (1-based) ends with a stall; the rest of its data
    // are not taken.
    // `taken` bytes of it are acknowledged first (whole packets, as a device
    // that stalls mid-transfer does).
    virtual void StallWrite(unsigned long nth, int taken = 0) = 0;
    // Bulk-out writes from now on are taken but never completed, as by a
    // cutter that stopped reading; false goes back to normal.
    virtual void StopReading(bool stopped) = 0;
    // Bulk-out writes after the nth are taken but never completed.
    virtual void StopReadingAfter(unsigned long nth) = 0;
    // A discarded write comes back only after `delay`, as on a host
    // controller slow to stop its endpoint; kNever: only when the interface
    // is released (which kills the interface's writes, as the kernel does)
    // or the device is unplugged.
    static constexpr std::chrono::milliseconds kNever{-1};
    virtual void DelayDiscards(std::chrono::milliseconds delay) = 0;

    virtual std::vector<unsigned char> Received() const = 0;
    virtual std::uint64_t ReceivedCount() const = 0;
    virtual unsigned long WriteCount() const = 0;
    // Control requests the device received.
    virtual int ControlRequests() const = 0;
    // Writes in flight that a discard request (a cancel) ended.
    virtual int Discards() const = 0;
    // Bulk-out writes taken and neither completed nor discarded.
    virtual int PendingWrites() const = 0;
    // Whether the configured driver holds interface 0 now.
    virtual bool DriverBound() const = 0;
    // Times the driver was detached.
    virtual int Detaches() const = 0;
    // The printer driver's node (/dev/usb/lpN) of a device that usblp
    // holds, else ""; a test opens it (through umockdev) to hold it open.
    // What is written there is received, a kilobyte each `writeDelay`.
    virtual std::string PrinterNode() const = 0;
    // Waits until `count` bulk-out writes were made; false at the limit.
    virtual bool WaitForWrites(unsigned long count, std::chrono::milliseconds limit) const = 0;
    // Waits until `count` bytes were received, by either node; false at the limit.
    virtual bool WaitForBytes(std::uint64_t count, std::chrono::milliseconds limit) const = 0;
};

// Lays out the emulated bus (a root hub, no device). libusb looks for the
// bus when it starts, and its hotplug monitor must start inside the
// emulation: call this before the code under test touches USB.
void StartBus();

// Plugs a device in: listed by libusb, and announced to its hotplug monitor.
std::shared_ptr<Device> Plug(const DeviceConfig& config);
// Pulls the device out: transfers in flight end, libusb hears of it.
void Unplug(const std::shared_ptr<Device>& device);
// Unplugs every device still plugged in.
void UnplugAll();

}  // namespace emulated_usb
