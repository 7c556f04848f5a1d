#include "platform/windows_virtual/busy_device.h"

#include <mutex>

#include "platform/windows_virtual/virtual_bus.h"

namespace virtual_usb {
namespace {

// Far longer than the cutter's thread takes to listen again after a close.
constexpr DWORD kReconnectMs = 500;

using CreateFileFunction = decltype(&CreateFileW);
CreateFileFunction systemCreateFile = nullptr;

bool IsCutterPath(const wchar_t* path) {
    if (path == nullptr) return false;
    for (const CutterConfig& cutter : Cutters()) {
        if (lstrcmpiW(cutter.devicePath.c_str(), path) == 0) return true;
    }
    return false;
}

HANDLE WINAPI OpenAsWinUsb(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE model) {
    HANDLE file = systemCreateFile(path, access, share, security, disposition, flags, model);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY || !IsCutterPath(path)) {
        return file;
    }
    if (WaitNamedPipeW(path, kReconnectMs)) {
        file = systemCreateFile(path, access, share, security, disposition, flags, model);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) return file;
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

// Replaces every entry of the program's import address table that holds
// `from` by `to`.
void PatchImports(ULONG_PTR from, ULONG_PTR to) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return;
    for (auto* module =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         module->Name != 0; ++module) {
        for (auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
             entry->u1.Function != 0; ++entry) {
            if (entry->u1.Function != from) continue;
            DWORD protection = 0;
            if (!VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, PAGE_READWRITE,
                                &protection)) {
                continue;
            }
            entry->u1.Function = to;
            VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, protection, &protection);
        }
    }
}

}  // namespace

void RouteBusyDevices() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Through void (*)(): the one cast between function types that is not
        // taken for a mistake.
        systemCreateFile = reinterpret_cast<CreateFileFunction>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateFileW")));
        if (systemCreateFile == nullptr) return;
        PatchImports(reinterpret_cast<ULONG_PTR>(systemCreateFile),
                     reinterpret_cast<ULONG_PTR>(&OpenAsWinUsb));
    });
}

}  // namespace virtual_usb
