// Which bus SetupAPI and WinUSB talk to: the virtual one once it is in use
// (EMU_USB_DEVICES set, or a test took its control), else the host's.
// Asked at each call, as a test that plugs in a virtual cutter takes the
// bus over from then on.
#include "platform/emu/buses/host/host_usb.h"
#include "platform/emu/buses/virtual/virtual_bus.h"

namespace emu {

UsbBus& TheUsbBus() {
    return VirtualBusInUse() ? VirtualUsbBus() : HostUsbBus();
}

}  // namespace emu
