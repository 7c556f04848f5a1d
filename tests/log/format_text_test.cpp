// Message formatting, system error texts and the record timestamp.
#include <climits>
#include <gtest/gtest.h>

#include "log/format_text.h"
#include "log/last_error_text.h"
#include "platform/emu/control.h"
#include "log/log_timestamp.h"
#include "platform/win32.h"

namespace {

TEST(FormatText, BuildsTheFailureMessagePattern) {
    EXPECT_EQ(FormatText("%s failed (%lu)", "SetupDiGetClassDevs", static_cast<DWORD>(5)),
              "SetupDiGetClassDevs failed (5)");
    // The largest code stays unsigned.
    EXPECT_EQ(FormatText("(%lu)", static_cast<DWORD>(0xFFFFFFFFu)), "(4294967295)");
}

TEST(FormatText, TextThatDoesNotFitIsCutAt199Characters) {
    const std::string fits(199, 'a');
    EXPECT_EQ(FormatText("%s", fits.c_str()), fits);
    const std::string oneOver(200, 'c');
    EXPECT_EQ(FormatText("%s", oneOver.c_str()), oneOver.substr(0, 199));

    const std::string longText(5000, 'b');
    const std::string result = FormatText("Unable to open the file (%s)", longText.c_str());
    EXPECT_EQ(result.size(), 199u);
    EXPECT_EQ(result, ("Unable to open the file (" + longText).substr(0, 199));
}

TEST(LastErrorText, EmptyForCodeZero) {
    SetLastError(0);
    EXPECT_EQ(LastErrorText(), "");
}

TEST(LastErrorText, SystemTextWithItsLineEnd) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(LastErrorText(), "The system cannot find the file specified.\r\n");
}

TEST(LastErrorText, EmptyWhenTheSystemHasNoText) {
    SetLastError(0x2BAD);
    EXPECT_EQ(LastErrorText(), "");
}

TEST(LogTimestamp, EveryFieldIsZeroPadded) {
    std::tm local = {};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 0;
    local.tm_mday = 5;
    local.tm_hour = 9;
    local.tm_min = 3;
    local.tm_sec = 7;
    EXPECT_EQ(FormatTimestamp(local), "2024-01-05 09:03:07 ");
}

TEST(LogTimestamp, NowHasTheFixedWidth) {
    const std::string now = LogTimestamp();
    ASSERT_EQ(now.size(), 20u);
    EXPECT_EQ(now[4], '-');
    EXPECT_EQ(now[10], ' ');
    EXPECT_EQ(now[13], ':');
    EXPECT_EQ(now[19], ' ');
}

// The system hands its text over in a block of its own; LastErrorText gives
// it back, whatever the code.
TEST(LastErrorText, FreesTheSystemsBlock) {
    const std::size_t before = emu::LiveLocalBlocks();
    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(LastErrorText(), "The system cannot find the file specified.\r\n");
    SetLastError(0xE0001234);  // a code without a text
    EXPECT_EQ(LastErrorText(), "");
    EXPECT_EQ(emu::LiveLocalBlocks(), before);
}

}  // namespace
