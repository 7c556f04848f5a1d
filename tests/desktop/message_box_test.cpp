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

}  // namespace
