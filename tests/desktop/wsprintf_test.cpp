// wsprintfW's conversions, as the cutter list and messages use them.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/win32.h"

namespace {

TEST(Wsprintf, FormatsLikeUser32) {
    struct Case {
        std::function<int(WCHAR*)> format;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {[](WCHAR* out) { return wsprintfW(out, L" (#%X)", 0x1F2Eu); }, L" (#1F2E)"},
        {[](WCHAR* out) { return wsprintfW(out, L" (#%X)", 0xFFFFFFFFu); }, L" (#FFFFFFFF)"},
        {[](WCHAR* out) { return wsprintfW(out, L"%x|%lX", 0xABu, 0xCDUL); }, L"ab|CD"},
        {[](WCHAR* out) { return wsprintfW(out, L"%d %u %i", -42, 42u, 7); }, L"-42 42 7"},
        {[](WCHAR* out) { return wsprintfW(out, L"[%5d|%-4d|%05d]", 42, 7, -3); },
         L"[   42|7   |-0003]"},
        {[](WCHAR* out) { return wsprintfW(out, L"%s and %S", L"wide", "narrow"); },
         L"wide and narrow"},
        {[](WCHAR* out) { return wsprintfW(out, L"%c%c 100%%", L'o', L'k'); }, L"ok 100%"},
        {[](WCHAR* out) { return wsprintfW(out, L"%.3s", L"abcdef"); }, L"abc"},
    };
    for (const Case& c : cases) {
        WCHAR out[64];
        const int length = c.format(out);
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(length, static_cast<int>(std::wcslen(c.expected)));
    }
}

TEST(Wsprintf, StopsAt1024Characters) {
    std::wstring big(2000, L'x');
    std::vector<WCHAR> out(2100);
    EXPECT_EQ(wsprintfW(out.data(), L"%s", big.c_str()), 1023);
    EXPECT_EQ(std::wcslen(out.data()), 1023u);
}

}  // namespace
