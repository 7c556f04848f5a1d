// The virtual USB bus: the virtual cutters of tests and demonstrations
// (virtual_usb.h is its test control). It implements the bus interface
// that SetupAPI and WinUSB call (winusb/usb_bus.h) and registers its
// device paths in kernel32's device namespace; it may call kernel32 and
// nothing above.
#pragma once

#include "platform/emu/winusb/usb_bus.h"

namespace emu {

// True once EMU_USB_DEVICES is set (even empty) or a test used the bus's
// control (PlugIn, Unplug, ...): a program run by a person sees the cutters
// on the desk, a test sees only what it plugs in.
bool VirtualBusInUse();

UsbBus& VirtualUsbBus();

}  // namespace emu
