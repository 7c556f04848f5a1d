// The USB bus as SetupAPI and WinUSB see it, declared here and implemented
// by the bus drivers (platform/emu/buses): the devices present, the file
// CreateFileW opens on a device's interface path (through kernel32's device
// namespace, for the bus in use, listed or not), the WinUSB
// requests on such a file, and the arrival and removal of devices. Writes
// are cancelled through the file, as CancelIoEx cancels any overlapped I/O.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/emu/kernel32/completion_port.h"
#include "platform/emu/winusb/usb_listing.h"
#include "platform/emu/winusb/winusb_api.h"

namespace emu {

// A file opened on a USB device's interface path: what WinUSB drives. Each
// call returns FALSE with the last error set when it fails.
class UsbDeviceFile : public OverlappedObject {
  public:
    using OverlappedObject::OverlappedObject;
    // False when the device's driver knows no WinUSB request.
    virtual bool SpeaksWinUsb() const { return true; }
    // Takes interface 0 for WinUsb_Initialize, and gives it back for WinUsb_Free.
    virtual BOOL Claim() = 0;
    virtual void Release() = 0;
    virtual BOOL QueryInterfaceSettings(UCHAR alternate, PUSB_INTERFACE_DESCRIPTOR descriptor) = 0;
    virtual BOOL QueryPipe(UCHAR alternate, UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) = 0;
    virtual BOOL WritePipe(UCHAR pipeId, const UCHAR* data, ULONG length, PULONG transferred,
                           OVERLAPPED* overlapped) = 0;
    // CloseHandle closed it: WinUSB handles made on it are stale.
    virtual bool IsClosed() const = 0;
};

// A device interface arrived (true) or went, named by its path.
using UsbDeviceChange = std::function<void(bool arrived, const std::wstring& path)>;

class UsbBus {
  public:
    virtual ~UsbBus() = default;
    // What SetupAPI lists: the devices that have a USB device interface.
    virtual std::vector<UsbListing> Devices() = 0;
    // The file CreateFileW opens on `path`; null with the Windows error in
    // `error` (ERROR_FILE_NOT_FOUND for a device that is not there).
    virtual std::shared_ptr<KernelObject> Open(const std::wstring& path, DWORD flags,
                                               DWORD* error) = 0;
    // Calls `changed`, on a thread of the bus, for each device that arrives
    // or goes until Unwatch. Null with the last error set when the bus
    // cannot tell; a bus whose devices are only found by listing them
    // returns a watch that never calls.
    virtual void* Watch(UsbDeviceChange changed) = 0;
    virtual void Unwatch(void* watch) = 0;
};

// The bus in use, which the bus drivers choose (platform/emu/buses).
UsbBus& TheUsbBus();

}  // namespace emu
