// The GTK desktop with a watch on it: the runner learns from the program's
// own calls when a window is due, and which window a stray command goes to.
// What the windows show is read from the screen, not from here.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/emu/desktops/desktops.h"

class WatchedDesktop : public emu::Desktop {
  public:
    // Makes the GTK desktop, watched, the current one; ends the process
    // when no display can be opened.
    static std::shared_ptr<WatchedDesktop> Install();

    std::size_t FileDialogsOpened() const { return fileDialogs; }
    std::size_t ProgressDialogsShown() const { return progressDialogs; }
    std::size_t BoxesShown() const { return boxes; }
    // The dialog shown from a template and not hidden yet, or null.
    HWND ProgressDialog() const;
    // The program stops at each of `points` in turn until Release: when it
    // shows the progress dialog (kShown), or sets its bar at or past a
    // percentage. The person acts at that moment, as the other runners do
    // from inside the program's thread.
    static constexpr int kShown = -1;
    void HoldAt(std::vector<int> points);
    // Lets the program go on from the current hold, or skips it if the
    // program has not come to it.
    void Release();
    // Lets the program go on and holds it nowhere any more.
    void ReleaseAll();

    void Idle() override { inner->Idle(); }
    void DialogShown(HWND window) override;
    void WindowHidden(HWND window) override;
    void ProgressSet(HWND bar, int position) override;
    void FileDialogOpened(HWND top, const emu::FileDialogSetup& setup) override;
    void FileNameRefused(HWND top, const std::wstring& name, const std::string& reason) override {
        inner->FileNameRefused(top, name, reason);
    }
    void FileDialogClosed(HWND top, BOOL result, const std::wstring& path) override {
        inner->FileDialogClosed(top, result, path);
    }
    std::wstring LastChosenFolder() override { return inner->LastChosenFolder(); }
    int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
    void MessageBoxEndedByQuit(const std::string& text, const std::string& caption,
                               UINT type) override {
        inner->MessageBoxEndedByQuit(text, caption, type);
    }

  private:
    explicit WatchedDesktop(std::shared_ptr<emu::Desktop> gtk) : inner(std::move(gtk)) {}

    std::shared_ptr<emu::Desktop> inner;
    std::atomic<std::size_t> fileDialogs{0};
    std::atomic<std::size_t> boxes{0};
    std::atomic<std::size_t> progressDialogs{0};
    mutable std::mutex mutex;
    std::condition_variable released;
    HWND dialog = nullptr;
    std::vector<int> holds;
    std::size_t nextHold = 0;

    // Waits while hold point `point` is the next one, up to a bound.
    void HoldIf(const std::function<bool(int)>& reached);
};
