// What the emulated desktop assumes of Windows' message loops, checked
// against the real thing under Wine: the same behaviours the Linux tests of
// tests/desktop/message_box_test.cpp hold the emulation to. Prints one
// "name=value" line per check; scripts/wine-tests compares them.
#include <cstdio>

#include "platform/unique_handle.h"
#include "platform/win32.h"

namespace {

// The box is gone within this, or WM_QUIT did not end it.
constexpr DWORD kBoxPatienceMs = 30000;

void Report(const char* name, long value) {
    std::printf("%s=%ld\n", name, value);
    std::fflush(stdout);
}

// Nobody answers the box: if WM_QUIT does not end it, this says so and ends
// the process rather than leave it to the script's time-out.
DWORD WINAPI BoxWatch(LPVOID ended) {
    if (WaitForSingleObject(static_cast<HANDLE>(ended), kBoxPatienceMs) == WAIT_TIMEOUT) {
        Report("quit_box_ended_unanswered", 0);
        ExitProcess(1);
    }
    return 0;
}

// A modal loop that meets WM_QUIT ends without anyone answering the box, and
// posts it again.
void QuitEndsAMessageBox() {
    PostQuitMessage(7);
    platform::UniqueHandle ended(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    platform::UniqueHandle watch(CreateThread(nullptr, 0, BoxWatch, ended.get(), 0, nullptr));
    const int answer =
        MessageBoxA(nullptr, "Gone before it can be read", "bladepost", MB_ICONWARNING);
    SetEvent(ended.get());
    WaitForSingleObject(watch.get(), INFINITE);
    Report("quit_box_answer", answer);
    Report("quit_box_ended_unanswered", 1);
    MSG msg{};
    const BOOL again = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    Report("quit_posted_again", again && msg.message == WM_QUIT ? 1 : 0);
    Report("quit_code", again ? static_cast<long>(msg.wParam) : -1);
}

// A posted message comes before WM_QUIT, and a WM_QUIT filter takes the quit.
void QuitComesLastUnlessFiltered() {
    PostQuitMessage(3);
    PostMessageW(nullptr, WM_USER, 0, 0);
    MSG msg{};
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    Report("first_without_filter", static_cast<long>(msg.message));
    const BOOL quit = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    Report("quit_filter_takes_quit", quit && msg.message == WM_QUIT ? 1 : 0);
    const BOOL user = PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    Report("then_the_posted_one", user ? static_cast<long>(msg.message) : -1);
    Report("then_nothing", PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) ? 0 : 1);
}

}  // namespace

int main() {
    QuitEndsAMessageBox();
    QuitComesLastUnlessFiltered();
    return 0;
}
