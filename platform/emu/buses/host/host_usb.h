// The host's own USB devices, reached through libusb: the bus SetupAPI
// lists, CreateFileW opens and WinUSB drives when no virtual cutter is
// asked for. It implements the bus interface (winusb/usb_bus.h), registers
// its device paths in kernel32's device namespace at its first listing, and
// may call kernel32 and nothing above.
#pragma once

#include "platform/emu/winusb/usb_bus.h"

namespace emu {

UsbBus& HostUsbBus();

}  // namespace emu
