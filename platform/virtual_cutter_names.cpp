#include "platform/virtual_cutter_names.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace platform {

bool ParseVirtualDeviceEntry(const std::string& text, VirtualDeviceEntry* entry) {
    std::vector<std::string> fields;
    std::string rest = text;
    for (int i = 0; i < 4; ++i) {
        const std::string::size_type colon = rest.find(':');
        fields.push_back(rest.substr(0, colon));
        if (colon == std::string::npos) {
            if (i < 3) return false;
            rest.clear();
            break;
        }
        rest = rest.substr(colon + 1);
    }
    if (fields[3].empty()) return false;
    entry->vendorId = static_cast<std::uint16_t>(std::strtoul(fields[0].c_str(), nullptr, 16));
    entry->productId = static_cast<std::uint16_t>(std::strtoul(fields[1].c_str(), nullptr, 16));
    entry->serial = fields[2];
    entry->port = fields[3];
    entry->receiveFile = rest;
    return true;
}

std::string UsbInstanceId(std::uint16_t vendorId, std::uint16_t productId,
                          const std::string& serial) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB\\VID_%04X&PID_%04X\\", vendorId, productId);
    std::string id = ids;
    for (char c : serial)
        id.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return id;
}

std::wstring UsbInterfacePath(const std::string& instanceId, const std::wstring& tail) {
    std::wstring path = L"\\\\?\\";
    for (char c : instanceId) {
        path.push_back(
            c == '\\' ? L'#' : static_cast<wchar_t>(std::tolower(static_cast<unsigned char>(c))));
    }
    return path + tail;
}

}  // namespace platform
