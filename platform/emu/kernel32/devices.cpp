#include "platform/emu/kernel32/devices.h"

#include <mutex>

namespace emu {
namespace {

struct Opener {
    std::mutex mutex;
    DeviceOpener open;
};

Opener& TheOpener() {
    static Opener* opener = new Opener;
    return *opener;
}

}  // namespace

void SetDeviceOpener(DeviceOpener opener) {
    Opener& holder = TheOpener();
    std::lock_guard<std::mutex> lock(holder.mutex);
    holder.open = std::move(opener);
}

bool IsDevicePath(const std::wstring& path) {
    return path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0;
}

std::shared_ptr<KernelObject> OpenDevice(const std::wstring& path, DWORD access, DWORD flags,
                                         DWORD* error) {
    DeviceOpener open;
    {
        Opener& holder = TheOpener();
        std::lock_guard<std::mutex> lock(holder.mutex);
        open = holder.open;
    }
    if (!open) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return open(path, access, flags, error);
}

std::string NarrowPath(const std::wstring& path) {
    std::string out;
    for (wchar_t wc : path) {
        auto c = static_cast<unsigned long>(wc);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace emu
