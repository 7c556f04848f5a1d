// The emulated USB bus: which virtual devices are present. SetupAPI lists
// them, CreateFileW opens their interface paths.
//
// The host's own devices (platform/emu/host_usb.h) take their place when no
// virtual cutter is named (EMU_USB_DEVICES unset) and no test has used the
// bus's control (PlugIn, Unplug, ...): a program run by a person sees the
// cutters on the desk, a test sees only what it plugs in.
#pragma once

#include <memory>
#include <vector>

#include "platform/emu/winusb/usb_listing.h"
#include "platform/emu/buses/virtual/virtual_device_impl.h"

namespace emu {

// Present devices, in the order they were plugged in.
std::vector<std::shared_ptr<VirtualDeviceImpl>> PresentDevices();

// True while the host's devices stand in for the virtual bus.
bool HostUsbChosen();

// What SetupAPI lists: the present virtual devices that have a USB device
// interface, or the host's devices.
std::vector<UsbListing> ListedUsbDevices();

}  // namespace emu
