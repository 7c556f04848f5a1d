#include "log/log_location.h"

#include <cstring>

#include "log/exception.h"
#include "log/format_text.h"
#include "platform/win32.h"

const char kLogFileName[] = "portgate.log";
const char kVendorFolderName[] = "org.bladepost.SendToCutter";

boost::filesystem::path SharedDataFolder() {
    // Filled only while the Logger is being created, which happens once.
    static boost::filesystem::path cachedFolder;
    if (!cachedFolder.empty()) return cachedFolder;

    char buffer[MAX_PATH] = {};
    const HRESULT result =
        SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(result)) {
        const DWORD error = GetLastError();
        throw QUILL::Exception(FormatText(
            "Cannot retrieve shared application data folder, SHGetFolderPath failed (%lu)", error));
    }
    cachedFolder = boost::filesystem::path(std::string(buffer, strnlen(buffer, sizeof buffer))) /
                   kVendorFolderName;
    return cachedFolder;
}

std::string LogFilePath(const std::string& fileName) {
    return (SharedDataFolder() / "log" / fileName).string();
}
