// libFuzzer target: any bytes, read as a device instance ID in a buffer of
// the size enumeration uses, must parse without reading or writing outside.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "usb/instance_id.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kCapacity = 1024;
    // Exactly as large as the input (or the enumeration buffer), so that
    // AddressSanitizer sees every byte read past it.
    const std::size_t length = size < kCapacity ? size : kCapacity;
    std::unique_ptr<char[]> id(new char[length == 0 ? 1 : length]);
    if (length != 0) std::memcpy(id.get(), data, length);
    const InstanceIdentity identity = ParseInstanceId(id.get(), length);
    (void)identity;
    return 0;
}
