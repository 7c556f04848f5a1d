// Device namespace of the emulated kernel: paths such as \\?\usb#... name
// devices, not files. The device stack below resolves them: the USB bus in
// use (platform/emu/buses), whether or not the device was listed first.
#pragma once

#include <memory>
#include <string>

#include "platform/emu/kernel32/handle_table.h"

namespace emu {

// Implemented by the USB buses' chooser (platform/emu/buses/usb_buses.cpp),
// as a driver implements what its library declares: the opened device
// object, or null with the Windows error in `error`.
std::shared_ptr<KernelObject> OpenBusDevice(const std::wstring& path, DWORD flags, DWORD* error);

bool IsDevicePath(const std::wstring& path);

// Converts a wide path to the UTF-8 bytes POSIX calls take.
std::string NarrowPath(const std::wstring& path);
// The reverse, for the narrow (A) functions: the emulation's narrow file
// names are the host's UTF-8 bytes, as SHGetFolderPathA gives them.
std::wstring WidePath(const std::string& path);
// Text of the narrow (A) functions, in the ANSI code page, as UTF-8.
std::string AnsiToUtf8(const std::string& text);

}  // namespace emu
