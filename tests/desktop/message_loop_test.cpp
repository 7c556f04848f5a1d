// Message queues, dialog lifetime and the progress dialog's input, with a
// small dialog procedure of the tests' own on template 102.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/emu/control.h"
#include "platform/emu/user32/dialog.h"
#include "platform/win32.h"
#include "resources/resource.h"

namespace {

constexpr UINT WM_SETPROGRESS = WM_USER + 1;

// What the dialog procedure saw; it behaves like the utility's: Cancel
// destroys the dialog, whose WM_DESTROY ends the message loop.
struct Seen {
    std::vector<UINT> messages;
    std::vector<WPARAM> commands;
    std::vector<WPARAM> positions;
    bool destroyed = false;
    std::mutex mutex;
    std::condition_variable changed;
} seen;

void Record(UINT message, WPARAM wParam) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.messages.push_back(message);
    if (message == WM_DESTROY) seen.destroyed = true;
    if (message == WM_COMMAND) seen.commands.push_back(wParam);
    seen.changed.notify_all();
}

// After the bar has it: a feeder waiting for this sees the bar's effects.
void RecordShown(WPARAM position) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.positions.push_back(position);
    seen.changed.notify_all();
}

INT_PTR CALLBACK TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    Record(message, wParam);
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_DESTROY:
            PostQuitMessage(0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL) DestroyWindow(dialog);
            return TRUE;
        case WM_SETPROGRESS:
            SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, wParam, 0);
            RecordShown(wParam);
            return TRUE;
        default:
            return FALSE;
    }
}

class MessageLoop : public testing::Test {
  protected:
    void SetUp() override {
        emu::UseScriptedDesktop();
        emu::ClearFaults();
        InitCommonControls();
        std::lock_guard<std::mutex> lock(seen.mutex);
        seen.messages.clear();
        seen.commands.clear();
        seen.positions.clear();
        seen.destroyed = false;
    }
    void TearDown() override {
        if (IsWindow(dialog)) DestroyWindow(dialog);
        // Empties the queue, and a WM_QUIT left behind, for the next test.
        PostQuitMessage(0);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        }
        emu::ClearFaults();
    }

    HWND Create() {
        dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS),
                                    nullptr, TestDialogProc, 0);
        return dialog;
    }

    // The utility's loop: the dialog's keys through IsDialogMessageW, the
    // rest dispatched; returns GetMessageW's final result.
    BOOL RunLoop() {
        MSG msg;
        BOOL got;
        while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
            if (IsWindow(dialog) && IsDialogMessageW(dialog, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return got;
    }

    HWND dialog = nullptr;
};

TEST_F(MessageLoop, TemplateGivesHiddenDialogWithItsControlsUntilShown) {
    ASSERT_NE(Create(), nullptr);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_TRUE(emu::ShownDialogs().empty());
    ShowWindow(dialog, SW_SHOW);

    const auto shown = emu::ShownDialogs();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].templateId, IDD_PROGRESS);
    EXPECT_EQ(shown[0].title, L"Send to Cutter Utility");
    ASSERT_NE(shown[0].Control(IDCANCEL), nullptr);
    EXPECT_EQ(shown[0].Control(IDCANCEL)->text, L"Cancel");
    EXPECT_EQ(shown[0].Control(IDC_PROGRESS)->position, 0);
    // DS_CENTER: the dialog sits in the middle of the screen.
    RECT screen, box;
    GetWindowRect(GetDesktopWindow(), &screen);
    GetWindowRect(dialog, &box);
    EXPECT_NEAR(box.left + box.right, screen.right, 1);
    EXPECT_NEAR(box.top + box.bottom, screen.bottom, 1);
}

TEST_F(MessageLoop, MessagePostedFromAnotherThreadWakesGetMessage) {
    ASSERT_NE(Create(), nullptr);
    bool waiting = false;
    std::mutex mutex;
    std::condition_variable changed;
    std::thread poster([&] {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return waiting; });  // the loop is about to wait
        lock.unlock();
        PostMessageW(dialog, WM_SETPROGRESS, 42, 0);
    });
    {
        std::lock_guard<std::mutex> lock(mutex);
        waiting = true;
    }
    changed.notify_all();
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    poster.join();
    EXPECT_EQ(msg.hwnd, dialog);
    EXPECT_EQ(msg.message, WM_SETPROGRESS);
    EXPECT_EQ(msg.wParam, 42u);
    DispatchMessageW(&msg);
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0), 42);
}

// As on Windows, a message sent to another thread's window waits until that
// thread's loop has handled it, and gets the procedure's answer; the loop
// handles it on the way and never returns it.
TEST_F(MessageLoop, MessageSentFromAnotherThreadIsAnsweredByTheWindowsLoop) {
    ASSERT_NE(Create(), nullptr);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    SendMessageW(bar, PBM_SETPOS, 37, 0);
    LRESULT answer = -1;
    std::thread sender([&] {
        answer = SendMessageW(bar, PBM_GETPOS, 0, 0);
        PostMessageW(dialog, WM_USER, 0, 0);  // ends the loop's wait
    });
    MSG msg;
    ASSERT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    sender.join();
    EXPECT_EQ(answer, 37);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
}

TEST_F(MessageLoop, QuitComesAfterPostedMessagesAndFailureIsMinusOne) {
    PostQuitMessage(3);
    PostMessageW(nullptr, WM_USER, 1, 0);
    MSG msg;
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);

    emu::FailCall("GetMessageW", 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetMessageW(&msg, nullptr, 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(MessageLoop, OnlyTheCreatingThreadDestroysTheDialog) {
    ASSERT_NE(Create(), nullptr);
    BOOL destroyed = TRUE;
    DWORD error = 0;
    std::thread other([&] {
        destroyed = DestroyWindow(dialog);
        error = GetLastError();
    });
    other.join();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsWindow(dialog));
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);

    EXPECT_TRUE(DestroyWindow(dialog));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(bar));
    EXPECT_TRUE(seen.destroyed);
    EXPECT_FALSE(DestroyWindow(dialog));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(MessageLoop, EscapeReachesTheProcedureAsCancelAndEndsTheLoop) {
    emu::ScriptDialog(IDD_PROGRESS, {emu::PressEscape()});
    ASSERT_NE(Create(), nullptr);
    ShowWindow(dialog, SW_SHOW);

    EXPECT_EQ(RunLoop(), FALSE);  // WM_QUIT from WM_DESTROY
    ASSERT_EQ(seen.commands.size(), 1u);
    EXPECT_EQ(LOWORD(seen.commands[0]), IDCANCEL);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_TRUE(emu::Unscripted().empty());
}

TEST_F(MessageLoop, PositionsKeepToTheRange) {
    ASSERT_NE(Create(), nullptr);
    for (WPARAM position : {WPARAM{30}, WPARAM{100}, WPARAM{101}, WPARAM{250}}) {
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, position, 0);
    }
    EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(emu::ProgressPositions(), (std::vector<int>{30, 100, 100, 100}));
}

// A worker feeds the bar one position at a time, as a transfer does; the
// user presses Cancel when it shows 50.
TEST_F(MessageLoop, CancelAtAScriptedPositionStopsTheFeed) {
    emu::ScriptProgress(50, {emu::PressCancel()});
    ASSERT_NE(Create(), nullptr);
    ShowWindow(dialog, SW_SHOW);
    std::thread worker([this] {
        for (WPARAM percent = 10; percent <= 100; percent += 10) {
            std::unique_lock<std::mutex> lock(seen.mutex);
            const std::size_t before = seen.positions.size();
            if (!PostMessageW(dialog, WM_SETPROGRESS, percent, 0)) return;  // gone
            // Next chunk only once this one was shown, or the dialog is gone.
            seen.changed.wait(lock,
                              [&] { return seen.positions.size() > before || seen.destroyed; });
            if (seen.destroyed) return;
        }
    });
    EXPECT_EQ(RunLoop(), FALSE);
    worker.join();
    EXPECT_EQ(emu::ProgressPositions(), (std::vector<int>{10, 20, 30, 40, 50}));
    EXPECT_EQ(LOWORD(seen.commands.at(0)), IDCANCEL);
}

TEST_F(MessageLoop, ProgressTemplateNeedsTheCommonControls) {
    emu::ForgetCommonControls();
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    // Windows destroys the half-made dialog: its procedure sees it go, never
    // initialised.
    EXPECT_EQ(seen.messages, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));

    InitCommonControls();
    EXPECT_NE(Create(), nullptr);
}

TEST_F(MessageLoop, UnknownTemplateIsNotFound) {
    EXPECT_EQ(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(999), nullptr,
                                 TestDialogProc, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// The template is the table the Windows resource script compiles too. The
// sentence spans the 311-unit dialog between 7-unit margins, centred: at 109
// units the dialog font cut off its last word. How wide the text is in that
// font is measured under Wine (dialog_probe text-fit), not guessed here.
TEST_F(MessageLoop, ProgressSentenceSpansTheDialogCentred) {
    const emu::DialogTemplate* progress =
        emu::FindDialogTemplate(nullptr, MAKEINTRESOURCEW(IDD_PROGRESS));
    ASSERT_NE(progress, nullptr);
    ASSERT_EQ(progress->controlCount, 3u);
    const emu::ControlTemplate& sentence = progress->controls[1];
    ASSERT_EQ(std::wstring(sentence.text), L"The file is being sent to the cutter");
    EXPECT_EQ(sentence.id, -1);
    EXPECT_EQ(std::wstring(sentence.className), L"STATIC");
    EXPECT_EQ(sentence.style, static_cast<DWORD>(SS_CENTER | WS_GROUP));
    EXPECT_EQ((std::vector<int>{sentence.x, sentence.y, sentence.cx, sentence.cy}),
              (std::vector<int>{7, 8, 297, 8}));
}

}  // namespace
