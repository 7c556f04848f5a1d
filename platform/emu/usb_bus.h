// The emulated USB bus: which virtual devices are present. SetupAPI lists
// them, CreateFileW opens their interface paths.
#pragma once

#include <memory>
#include <vector>

#include "platform/emu/virtual_device_impl.h"

namespace emu {

// Present devices, in the order they were plugged in.
std::vector<std::shared_ptr<VirtualDeviceImpl>> PresentDevices();

}  // namespace emu
