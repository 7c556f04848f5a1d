// Reading vendor ID, product ID and serial number out of a device instance
// ID such as USB\VID_2E7A&PID_4C01\0001A2.
#pragma once

#include <cstddef>
#include <cstdint>

struct InstanceIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint32_t serialNumber = 0;
};

// `id` holds at most `capacity` characters; the text ends at its first NUL
// or at `capacity`, whichever comes first. Never reads or writes outside.
//   vendorId, productId: the 4 hexadecimal digits after the first "VID_" and
//     "PID_" (case-sensitive), 0 when absent;
//   serialNumber: the text after the last backslash (searched from the later
//     of the two IDs, or from the start when neither is there) read as a
//     hexadecimal number the way strtol with a 32-bit long reads it
//     (blanks, sign and 0x accepted; clamped to 0x7FFFFFFF), 0 when there
//     is no backslash.
InstanceIdentity ParseInstanceId(const char* id, std::size_t capacity);
