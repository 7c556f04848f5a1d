#include <string>

#include "platform/emu/kernel32/devices.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"

namespace {

// The emulated system's ANSI code page is Windows-1252, the usual one of an
// English Windows; 0x81, 0x8D, 0x8F, 0x90 and 0x9D map to the same control
// characters Windows maps them to.
wchar_t FromWindows1252(unsigned char c) {
    static const wchar_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (c >= 0x80 && c < 0xA0) return high[c - 0x80];
    return static_cast<wchar_t>(c);
}

// Decodes UTF-8; malformed bytes become U+FFFD as Windows does without
// MB_ERR_INVALID_CHARS.
std::wstring FromUtf8(const unsigned char* text, std::size_t length) {
    std::wstring out;
    for (std::size_t i = 0; i < length;) {
        unsigned char c = text[i];
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= length) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        unsigned long code = extra == 0 ? c : (c & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            unsigned char next = text[i + static_cast<std::size_t>(k)];
            if ((next & 0xC0) != 0x80) ok = false;
            code = (code << 6) | (next & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(static_cast<wchar_t>(code));
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

}  // namespace

std::wstring emu::WidePath(const std::string& path) {
    return FromUtf8(reinterpret_cast<const unsigned char*>(path.data()), path.size());
}

std::string emu::AnsiToUtf8(const std::string& text) {
    std::wstring wide;
    for (char c : text) wide.push_back(FromWindows1252(static_cast<unsigned char>(c)));
    return NarrowPath(wide);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD, LPCSTR multiByteStr, int multiByteCount,
                               LPWSTR wideCharStr, int wideCharCount) {
    if (emu::InjectedFailure("MultiByteToWideChar")) return 0;
    if (multiByteStr == nullptr || multiByteCount == 0 || wideCharCount < 0 ||
        (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1 means NUL-terminated, and the terminator is converted too.
    std::size_t length = multiByteCount < 0 ? std::char_traits<char>::length(multiByteStr) + 1
                                            : static_cast<std::size_t>(multiByteCount);
    const auto* bytes = reinterpret_cast<const unsigned char*>(multiByteStr);
    std::wstring wide;
    if (codePage == CP_UTF8) {
        wide = FromUtf8(bytes, length);
    } else {
        for (std::size_t i = 0; i < length; ++i) wide.push_back(FromWindows1252(bytes[i]));
    }
    if (wideCharCount == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<std::size_t>(wideCharCount)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    wide.copy(wideCharStr, wide.size());
    return static_cast<int>(wide.size());
}
