// The GTK desktop's message box behaves as Windows' does for the thread
// that shows it, against a real display (tests/gtk/gtk_desktop_test runs
// it under Xvfb): its modal loop dispatches what is posted meanwhile, and a
// WM_QUIT ends the box before anyone answers it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/emu/desktops/desktops.h"
#include "platform/win32.h"
#include "tests/support/deadline.h"

namespace {

class GtkMessageBox : public testing::Test {
  protected:
    void SetUp() override {
        std::shared_ptr<emu::Desktop> gtk = emu::MakeGtkDesktop();
        if (gtk == nullptr) GTEST_SKIP() << "no display";
        emu::InstallDesktop(gtk);
    }
    void TearDown() override { emu::UseScriptedDesktop(); }
};

TEST_F(GtkMessageBox, QuitThatComesWhileTheBoxIsUpEndsIt) {
    const DWORD me = GetCurrentThreadId();
    // Long enough for the box to be on the screen, waiting for a person.
    std::thread poster([me] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        PostThreadMessageW(me, WM_QUIT, 5, 0);
    });
    int answer = 0;
    {
        const Deadline deadline("a GTK message box that met WM_QUIT", std::chrono::seconds(10));
        answer = MessageBoxA(nullptr, "Nobody answers", "bladepost", MB_OKCANCEL);
    }
    poster.join();
    EXPECT_EQ(answer, IDOK);
    MSG msg{};
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "WM_QUIT not posted again";
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 5u);
}

}  // namespace
