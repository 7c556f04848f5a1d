// The program's warning box keeps a WM_QUIT that was waiting for its thread
// away from its own modal loop, and leaves the queue as it found it.
#include <gtest/gtest.h>

#include "app/message_box.h"
#include "platform/emu/control.h"
#include "platform/win32.h"

namespace {

TEST(ShowWarning, WaitingQuitOutlivesTheBoxAndNoneIsMadeUp) {
    emu::UseScriptedDesktop();
    PostQuitMessage(4);
    ShowWarning("first");
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit was lost";
    EXPECT_EQ(msg.wParam, 4u);

    ShowWarning("second");
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "the box left a message";
    const auto boxes = emu::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[0].endedByQuit) << "the waiting quit ended the box";
}

}  // namespace
