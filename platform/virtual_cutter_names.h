// What the two virtual USB buses (the Linux emulation and the Windows test
// variant) share: how a device listed in EMU_USB_DEVICES is written, and how
// Windows names a USB device's instance and interface.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// One device of EMU_USB_DEVICES: "vendor:product:serial:port[:file]", the IDs
// in hexadecimal.
struct VirtualDeviceEntry {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;
    std::string port;
    std::string receiveFile;  // none if empty
};

// False when malformed. The file is the rest of the text: a Windows path has
// a colon of its own.
bool ParseVirtualDeviceEntry(const std::string& text, VirtualDeviceEntry* entry);

// "USB\VID_vvvv&PID_pppp\SERIAL".
std::string UsbInstanceId(std::uint16_t vendorId, std::uint16_t productId,
                          const std::string& serial);

// The interface path Windows gives a USB device: \\?\ and the instance ID in
// lower case with '\' turned into '#', then `tail` (the interface class).
std::wstring UsbInterfacePath(const std::string& instanceId, const std::wstring& tail);

}  // namespace platform
