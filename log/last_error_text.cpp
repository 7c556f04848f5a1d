#include "log/last_error_text.h"

#include "platform/local_block.h"
#include "platform/win32.h"

std::string LastErrorText() {
    return ErrorText(GetLastError());
}

std::string ErrorText(DWORD code) {
    if (code == 0) return std::string();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    platform::LocalBlock<char> owner(text);
    if (length == 0 || text == nullptr) return std::string();
    return std::string(text, length);
}
