// The fastest a program can send to the stand-in cutter as bladepost does:
// finds the cutter through SetupAPI, then writes SIZE bytes in 1024-byte
// overlapped WriteFiles straight to its pipe, one at a time, and exits.
//
//   bare_writer SIZE
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

// The device path of the first USB device interface listed, or empty.
std::wstring FirstDevicePath() {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return std::wstring();
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    std::wstring path;
    DWORD required = 0;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    if (SetupDiEnumDeviceInfo(set, 0, &info) &&
        SetupDiEnumDeviceInterfaces(set, &info, &GUID_DEVINTERFACE_USB_DEVICE, 0, &interfaceData)) {
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
        std::vector<char> block(
            std::max<DWORD>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(&block[0]);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail,
                                             static_cast<DWORD>(block.size()), nullptr, nullptr)) {
            path = detail->DevicePath;
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return path;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 3;
    const unsigned long size = std::wcstoul(argv[1], nullptr, 10);
    const std::wstring path = FirstDevicePath();
    platform::UniqueHandle cutter(
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    platform::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!cutter.valid() || !done.valid()) return 1;
    std::vector<unsigned char> chunk(1024, 0x5A);
    for (unsigned long sent = 0; sent < size;) {
        const DWORD length = size - sent < 1024 ? size - sent : 1024;
        OVERLAPPED overlapped{};
        overlapped.hEvent = done.get();
        ResetEvent(done.get());
        DWORD written = 0;
        if (!WriteFile(cutter.get(), chunk.data(), length, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            return 1;
        }
        if (!GetOverlappedResult(cutter.get(), &overlapped, &written, TRUE) || written == 0) {
            return 1;
        }
        sent += written;
    }
    return 0;
}
