// Message boxes are modal on whichever thread shows them, and the scripted
// desktop records each one.
#include <gtest/gtest.h>

#include <thread>

#include "platform/emu/control.h"
#include "platform/win32.h"

namespace {

TEST(MessageBox, WorkerThreadBoxIsRecordedWithItsThreadAndAnswered) {
    emu::UseScriptedDesktop();
    std::thread::id boxThread;
    emu::ScriptMessageBox(IDOK, [&] { boxThread = std::this_thread::get_id(); });
    int scripted = 0, unscripted = 0;
    std::thread::id workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        scripted = MessageBoxA(nullptr, "An error occurred while sending data", "bladepost",
                               MB_ICONWARNING);
        unscripted = MessageBoxA(nullptr, "Second", "bladepost", MB_OK);
    });
    worker.join();
    EXPECT_EQ(scripted, IDOK);
    EXPECT_EQ(unscripted, IDOK);
    EXPECT_EQ(boxThread, workerId);

    const auto boxes = emu::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].threadId, workerId);
    EXPECT_EQ(boxes[0].caption, "bladepost");
    EXPECT_EQ(boxes[0].text, "An error occurred while sending data");
    EXPECT_EQ(boxes[0].Icon(), static_cast<UINT>(MB_ICONWARNING));
    EXPECT_TRUE(boxes[0].scripted);
    EXPECT_FALSE(boxes[1].scripted);
    EXPECT_EQ(emu::Unscripted().size(), 1u);
}

TEST(MessageBox, ScriptedButtonIsTheAnswer) {
    emu::UseScriptedDesktop();
    emu::ScriptMessageBox(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Go on?", nullptr, MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(emu::MessageBoxes().at(0).caption, "Error");  // Windows' caption for none
    EXPECT_TRUE(emu::Unscripted().empty());
}

// A modal loop ends at once on WM_QUIT and posts it again for the caller's
// own loop: the box is gone before anybody could read it.
TEST(MessageBox, PendingQuitEndsTheBoxAtOnceAndIsPostedAgain) {
    emu::UseScriptedDesktop();
    PostQuitMessage(7);
    EXPECT_EQ(MessageBoxA(nullptr, "Lost", "bladepost", MB_ICONWARNING), IDOK);
    const auto boxes = emu::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].endedByQuit);
    EXPECT_EQ(boxes[0].text, "Lost");
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

// Thread messages posted before the quit are dispatched by the box's loop
// first, as Windows' loop would; a queue without WM_QUIT leaves the box up.
TEST(MessageBox, LoopTakesEarlierMessagesAndStaysWithoutQuit) {
    emu::UseScriptedDesktop();
    PostMessageW(nullptr, WM_USER, 1, 2);
    emu::ScriptMessageBox(IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Read me", "bladepost", MB_ICONWARNING), IDOK);
    EXPECT_FALSE(emu::MessageBoxes().at(0).endedByQuit);
    MSG msg{};
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "the box left a message";
}

// The box's loop keeps running while the user reads it: what is posted
// meanwhile (a transfer's progress, say) is dispatched by it.
TEST(MessageBox, LoopTakesWhatIsPostedWhileTheBoxIsUp) {
    emu::UseScriptedDesktop();
    emu::ScriptMessageBox(IDOK, [] { PostMessageW(nullptr, WM_USER, 3, 4); });
    EXPECT_EQ(MessageBoxA(nullptr, "Read me", "bladepost", MB_ICONWARNING), IDOK);
    MSG msg{};
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) << "the box left a message";
}

// What the box's loop takes while the user reads it may end the box before
// the user answers: a dialog destroyed meanwhile posts WM_QUIT.
TEST(MessageBox, QuitThatComesWhileTheBoxIsUpEndsIt) {
    emu::UseScriptedDesktop();
    emu::ScriptMessageBox(IDCANCEL, [] { PostQuitMessage(5); });
    EXPECT_EQ(MessageBoxA(nullptr, "Read me", "bladepost", MB_OKCANCEL), IDOK);
    EXPECT_TRUE(emu::MessageBoxes().at(0).endedByQuit) << "recorded as answered";
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT)) << "not posted again";
    EXPECT_EQ(msg.wParam, 5u);
}

TEST(PeekMessage, NoRemoveLeavesTheMessageAndQuitComesLast) {
    emu::UseScriptedDesktop();
    PostQuitMessage(3);
    PostMessageW(nullptr, WM_USER, 0, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
