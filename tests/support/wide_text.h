// Tests name their files and texts in ASCII: each byte widens to one WCHAR,
// and each WCHAR of what the program shows narrows back to one byte.
#pragma once

#include <string>

inline std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

inline std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
    return narrow;
}
