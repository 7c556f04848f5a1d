#include "platform/emu/shell32/shell_folder.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/shell32/shell_api.h"

namespace emu {
namespace {

struct Folder {
    std::mutex mutex;
    std::string path;
};

Folder& CommonAppData() {
    static Folder* folder = [] {
        auto* created = new Folder;
        const char* configured = std::getenv("EMU_COMMON_APPDATA");
        created->path = configured != nullptr ? configured : "/var/lib";
        return created;
    }();
    return *folder;
}

}  // namespace

void SetCommonAppDataFolder(const std::string& folder) {
    Folder& common = CommonAppData();
    std::lock_guard<std::mutex> lock(common.mutex);
    common.path = folder;
}

}  // namespace emu

HRESULT WINAPI SHGetFolderPathA(HWND, int folder, HANDLE, DWORD, LPSTR path) {
    if (emu::InjectedFailure("SHGetFolderPathA")) return E_FAIL;
    if (folder != CSIDL_COMMON_APPDATA || path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return E_INVALIDARG;
    }
    emu::Folder& common = emu::CommonAppData();
    std::lock_guard<std::mutex> lock(common.mutex);
    if (common.path.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return E_FAIL;
    }
    std::memcpy(path, common.path.c_str(), common.path.size() + 1);
    return S_OK;
}
