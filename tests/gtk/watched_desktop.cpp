#include "tests/gtk/watched_desktop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::chrono::seconds kHoldLimit(60);

}  // namespace

std::shared_ptr<WatchedDesktop> WatchedDesktop::Install() {
    std::shared_ptr<emu::Desktop> gtk = emu::MakeGtkDesktop();
    if (gtk == nullptr) {
        std::fputs("no display: the GTK desktop cannot be opened\n", stderr);
        std::exit(2);
    }
    std::shared_ptr<WatchedDesktop> watched(new WatchedDesktop(std::move(gtk)));
    emu::InstallDesktop(watched);
    return watched;
}

HWND WatchedDesktop::ProgressDialog() const {
    std::lock_guard<std::mutex> lock(mutex);
    return dialog;
}

void WatchedDesktop::HoldAt(std::vector<int> points) {
    std::lock_guard<std::mutex> lock(mutex);
    holds = std::move(points);
    nextHold = 0;
}

void WatchedDesktop::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (nextHold < holds.size()) ++nextHold;
    }
    released.notify_all();
}

void WatchedDesktop::ReleaseAll() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        nextHold = holds.size();  // past every hold, the one waited at included
    }
    released.notify_all();
}

void WatchedDesktop::ProgressSet(HWND bar, int position) {
    inner->ProgressSet(bar, position);  // the person sees the bar there
    HoldIf([position](int point) { return point != kShown && position >= point; });
}

void WatchedDesktop::HoldIf(const std::function<bool(int)>& reached) {
    std::unique_lock<std::mutex> lock(mutex);
    if (nextHold >= holds.size() || !reached(holds[nextHold])) return;
    const std::size_t hold = nextHold;
    // Bounded, so that a runner that forgets to release shows as a failed
    // run rather than a hang.
    released.wait_for(lock, kHoldLimit, [&] { return nextHold != hold; });
}

void WatchedDesktop::DialogShown(HWND window) {
    inner->DialogShown(window);  // on the screen before the runner is told
    {
        std::lock_guard<std::mutex> lock(mutex);
        dialog = window;
    }
    ++progressDialogs;
    HoldIf([](int point) { return point == kShown; });
}

void WatchedDesktop::WindowHidden(HWND window) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (dialog == window) dialog = nullptr;
    }
    inner->WindowHidden(window);
}

void WatchedDesktop::FileDialogOpened(HWND top, const emu::FileDialogSetup& setup) {
    inner->FileDialogOpened(top, setup);
    ++fileDialogs;
}

int WatchedDesktop::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    ++boxes;  // counted before the box waits for its answer
    return inner->MessageBox(text, caption, type);
}
