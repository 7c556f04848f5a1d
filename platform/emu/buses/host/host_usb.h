// The host's own USB devices, reached through libusb: what SetupAPI lists,
// CreateFileW opens and WinUSB drives when no virtual cutter is asked for.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/emu/kernel32/handle_table.h"
#include "platform/emu/winusb/usb_listing.h"
#include "platform/emu/winusb/winusb_api.h"

namespace emu {

// Every USB device of the host that Windows would give a USB device
// interface (root hubs have none). Empty when libusb cannot start.
std::vector<UsbListing> HostUsbDevices();

// Opens the device whose interface path is `path`; null with the Windows
// error in `error` (ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ...).
std::shared_ptr<KernelObject> OpenHostUsbDevice(const std::wstring& path, DWORD flags,
                                                DWORD* error);

// WinUSB on host devices. IsHostInterface tells whether an interface handle
// is one of them; the others follow WinUSB's contracts.
bool IsHostDeviceFile(const std::shared_ptr<KernelObject>& object);
bool IsHostInterface(WINUSB_INTERFACE_HANDLE handle);
BOOL HostWinUsbInitialize(const std::shared_ptr<KernelObject>& file,
                          PWINUSB_INTERFACE_HANDLE interfaceHandle);
BOOL HostWinUsbFree(WINUSB_INTERFACE_HANDLE handle);
BOOL HostWinUsbQueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle, UCHAR alternate,
                                      PUSB_INTERFACE_DESCRIPTOR descriptor);
BOOL HostWinUsbQueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternate, UCHAR pipeIndex,
                         PWINUSB_PIPE_INFORMATION pipe);
BOOL HostWinUsbWritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, const UCHAR* buffer,
                         ULONG length, PULONG transferred, OVERLAPPED* overlapped);

// Delivers WM_DEVICECHANGE arrival and removal of USB device interfaces to
// `window` until Unregister; null with the last error set when libusb has
// no hotplug support here.
void* RegisterHostUsbNotification(HWND window);
bool UnregisterHostUsbNotification(void* registration);

}  // namespace emu
