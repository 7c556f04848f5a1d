// Device namespace of the emulated kernel: paths such as \\?\usb#... name
// devices, not files. The USB bus in use registers the opener that resolves
// them when it starts (platform/emu/buses); the latest registration wins.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/emu/kernel32/handle_table.h"

namespace emu {

// Returns the opened device object, or null with the reason in `error`.
using DeviceOpener = std::function<std::shared_ptr<KernelObject>(
    const std::wstring& path, DWORD access, DWORD flags, DWORD* error)>;

void SetDeviceOpener(DeviceOpener opener);

bool IsDevicePath(const std::wstring& path);

// Opens a device path through the installed opener.
std::shared_ptr<KernelObject> OpenDevice(const std::wstring& path, DWORD access, DWORD flags,
                                         DWORD* error);

// Converts a wide path to the UTF-8 bytes POSIX calls take.
std::string NarrowPath(const std::wstring& path);
// The reverse, for the narrow (A) functions: the emulation's narrow file
// names are the host's UTF-8 bytes, as SHGetFolderPathA gives them.
std::wstring WidePath(const std::string& path);
// Text of the narrow (A) functions, in the ANSI code page, as UTF-8.
std::string AnsiToUtf8(const std::string& text);

}  // namespace emu
