// Local memory, system texts and code-page conversion of the emulated kernel.
#include <cstring>
#include <gtest/gtest.h>

#include "platform/emu/control.h"
#include "platform/win32.h"

namespace {

TEST(LocalMemory, BlocksAreZeroedAndFreedOnce) {
    const std::size_t before = emu::LiveLocalBlocks();
    auto* block = static_cast<unsigned char*>(LocalAlloc(LMEM_ZEROINIT, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
    EXPECT_EQ(emu::LiveLocalBlocks(), before + 1);

    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(emu::LiveLocalBlocks(), before);
    // A second free is refused instead of corrupting the heap.
    EXPECT_EQ(LocalFree(block), block);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(LocalMemory, InjectedFailureReturnsNull) {
    emu::FailCall("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(LocalAlloc(LMEM_ZEROINIT, 16), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    emu::ClearFaults();
}

TEST(SystemTexts, AllocatedTextEndsWithCrLf) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, ERROR_FILE_NOT_FOUND, 1024, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text, length), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(LocalFree(text), nullptr);
}

TEST(SystemTexts, UnknownCodeGivesNothing) {
    char* text = nullptr;
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                             0x2BAD, 1024, reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
}

TEST(CodePage, AnsiTextConvertsWithItsTerminator) {
    wchar_t wide[255];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "MERLIN", -1, wide, 255), 7);
    EXPECT_EQ(std::wstring(wide), L"MERLIN");
    // 0x80 is the euro sign in the ANSI code page, not U+0080.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80", -1, wide, 255), 2);
    EXPECT_EQ(wide[0], static_cast<wchar_t>(0x20AC));
}

TEST(CodePage, TooSmallBufferIsRefused) {
    wchar_t wide[3];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "MERLIN", -1, wide, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "MERLIN", -1, nullptr, 0), 7);
}

}  // namespace
