#include "platform/emu/buses/host/host_usb_names.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <tuple>

#include "platform/virtual_cutter_names.h"

namespace emu {
namespace {

void AppendUtf8(std::string* text, std::uint32_t code) {
    if (code < 0x80) {
        text->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        text->push_back(static_cast<char>(0xC0 | (code >> 6)));
        text->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        text->push_back(static_cast<char>(0xE0 | (code >> 12)));
        text->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        text->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        text->push_back(static_cast<char>(0xF0 | (code >> 18)));
        text->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        text->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        text->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

std::string SysfsName(std::uint8_t bus, const std::vector<std::uint8_t>& ports) {
    std::string name = std::to_string(bus) + "-";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0) name += '.';
        name += std::to_string(ports[i]);
    }
    return name;
}

std::string SerialOfSysfsFile(const std::string& contents) {
    std::string serial = contents;
    if (!serial.empty() && serial.back() == '\n') serial.pop_back();
    return serial;
}

std::string SerialOfStringDescriptor(const unsigned char* bytes, std::size_t length) {
    if (length < 2 || bytes[1] != 3) return "";
    const std::size_t end = std::min<std::size_t>(length, bytes[0]);
    std::string serial;
    for (std::size_t i = 2; i + 1 < end; i += 2) {
        std::uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
        if (unit == 0) break;
        const bool high = unit >= 0xD800 && unit < 0xDC00;
        if (high && i + 3 < end) {
            const std::uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (unit >= 0xD800 && unit < 0xE000) unit = 0xFFFD;  // a lone surrogate
        AppendUtf8(&serial, unit);
    }
    return serial;
}

bool UsableSerial(const std::string& serial) {
    if (serial.empty() || serial.size() > 126) return false;
    for (unsigned char c : serial) {
        if (c < 0x20 || c > 0x7E || c == ',') return false;
    }
    return true;
}

std::string GeneratedSegment(std::uint8_t bus, const std::vector<std::uint8_t>& ports) {
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](std::uint32_t value) {
        hash ^= value;
        hash *= 16777619u;
    };
    mix(bus);
    for (std::size_t i = 0; i + 1 < ports.size(); ++i) mix(ports[i]);
    char segment[32];
    std::snprintf(segment, sizeof segment, "5&%08X&0&%d", hash,
                  ports.empty() ? 0 : static_cast<int>(ports.back()));
    return segment;
}

std::string LocationPath(std::uint8_t bus, const std::vector<std::uint8_t>& ports) {
    std::string path = "PCIROOT(0)#PCI(1400)#USBROOT(" + std::to_string(bus) + ")";
    for (std::uint8_t port : ports) path += "#USB(" + std::to_string(port) + ")";
    return path;
}

std::vector<std::string> InstanceIds(const std::vector<HostDeviceFacts>& devices) {
    std::vector<std::size_t> order(devices.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&devices](std::size_t a, std::size_t b) {
        return std::tie(devices[a].bus, devices[a].ports) <
               std::tie(devices[b].bus, devices[b].ports);
    });
    std::vector<std::string> ids(devices.size());
    std::map<std::string, bool> taken;
    for (std::size_t index : order) {
        const HostDeviceFacts& device = devices[index];
        std::string id;
        if (UsableSerial(device.serial)) {
            id = platform::UsbInstanceId(device.vendorId, device.productId, device.serial);
            if (!taken.emplace(id, true).second) id.clear();
        }
        if (id.empty()) {
            id = platform::UsbInstanceId(device.vendorId, device.productId,
                                         GeneratedSegment(device.bus, device.ports));
        }
        ids[index] = id;
    }
    return ids;
}

}  // namespace emu
