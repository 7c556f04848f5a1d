#include "usb/instance_id.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// strtol(text, nullptr, 16) for a 32-bit long, as on Windows.
std::int32_t HexToLong(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && HexDigit(text[2]) >= 0) text += 2;
    const std::int64_t limit = negative ? INT64_C(0x80000000) : INT64_C(0x7FFFFFFF);
    std::int64_t value = 0;
    for (int digit; (digit = HexDigit(*text)) >= 0; ++text) {
        value = value * 16 + digit;
        if (value > limit) value = limit;  // keeps reading, like strtol
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

InstanceIdentity ParseInstanceId(const char* id, std::size_t capacity) {
    // A private, terminated copy: the cuts below write into it.
    std::string text(id, strnlen(id, capacity));
    text.push_back('\0');
    char* start = &text[0];
    const std::size_t length = text.size() - 1;

    const std::string::size_type vid = text.find("VID_");
    const std::string::size_type pid = text.find("PID_");
    const bool hasVid = vid < length, hasPid = pid < length;
    const std::size_t v = hasVid ? vid + 4 : 0, p = hasPid ? pid + 4 : 0;

    // The serial segment follows the last backslash after both IDs; found
    // before the cuts, which may write where it stands.
    const std::size_t from = hasVid || hasPid ? (v > p ? v : p) : 0;
    const std::string::size_type slash = text.rfind('\\');
    const bool hasSerial = slash != std::string::npos && slash >= from && slash < length;

    InstanceIdentity identity;
    if (hasPid) {
        if (p + 4 < length) start[p + 4] = '\0';
        identity.productId = static_cast<std::uint16_t>(HexToLong(start + p));
    }
    if (hasVid) {
        if (v + 4 < length) start[v + 4] = '\0';
        identity.vendorId = static_cast<std::uint16_t>(HexToLong(start + v));
    }
    if (hasSerial) identity.serialNumber = static_cast<std::uint32_t>(HexToLong(start + slash + 1));
    return identity;
}
