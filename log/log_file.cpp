#include "log/log_file.h"

#include "platform/win32.h"

namespace {

// A regular file that has no other name: nothing another user could have
// made this name lead to.
bool IsPlainFileOfItsOwn(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               0 &&
           info.nNumberOfLinks == 1;
}

}  // namespace

void LogFile::Open(const std::string& path) {
    // OPEN_ALWAYS, not CREATE_ALWAYS: truncating while opening would empty a
    // hard link's other file before it could be looked at. The reparse-point
    // flag opens a planted link itself, which the check then refuses.
    handle.reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid()) return;
    if (!IsPlainFileOfItsOwn(handle.get()) || !SetEndOfFile(handle.get())) handle.reset();
}

void LogFile::Write(const std::string& text) {
    if (!handle.valid()) return;
    const std::string bytes = platform::WithCarriageReturns(text);
    DWORD written = 0;
    if (!WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) ||
        written != bytes.size()) {
        handle.reset();
    }
}
