// Tests name their files and texts in ASCII: each byte widens to one WCHAR.
#pragma once

#include <string>

inline std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}
