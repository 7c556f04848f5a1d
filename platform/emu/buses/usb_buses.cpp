// Which bus SetupAPI and WinUSB talk to: the virtual one once it is in use
// (EMU_USB_DEVICES set, or a test took its control), else the host's.
// Asked at each call, as a test that plugs in a virtual cutter takes the
// bus over from then on.
#include "platform/emu/buses/host/host_usb.h"
#include "platform/emu/buses/virtual/virtual_bus.h"
#include "platform/emu/kernel32/devices.h"

namespace emu {

UsbBus& TheUsbBus() {
    return VirtualBusInUse() ? VirtualUsbBus() : HostUsbBus();
}

// A device path opens on the bus in use, listed or not, as on Windows.
std::shared_ptr<KernelObject> OpenBusDevice(const std::wstring& path, DWORD flags, DWORD* error) {
    return TheUsbBus().Open(path, flags, error);
}

}  // namespace emu
