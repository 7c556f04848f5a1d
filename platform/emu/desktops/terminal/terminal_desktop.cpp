// The terminal desktop: dialogs drawn as text for a person at a terminal,
// whose keys become the dialogs' input.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <vector>

#include "platform/emu/desktops/desktops.h"
#include "platform/emu/kernel32/devices.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/desktops/pending_input.h"
#include "platform/emu/desktops/terminal/terminal.h"
#include "platform/emu/desktops/terminal/terminal_screen.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

class TerminalDesktop : public Desktop, public std::enable_shared_from_this<TerminalDesktop> {
  public:
    void Idle() override;
    void DialogShown(HWND window) override;
    void WindowHidden(HWND window) override;
    void ProgressSet(HWND bar, int position) override;
    void FileDialogOpened(HWND top, const FileDialogSetup&) override;
    void FileNameRefused(HWND top, const std::wstring& name, const std::string& reason) override;
    void FileDialogClosed(HWND top, BOOL result, const std::wstring& path) override;
    int MessageBox(const std::string& text, const std::string& caption, UINT type) override;

  private:
    // Input for a dialog, waiting for its thread: a typed line, or an action.
    struct Pending {
        HWND top;
        bool isLine;
        std::wstring line;
        UserAction action;
    };

    void Start();
    void OnKey(const Key& key);
    void OnFileDialogKey(const Key& key, std::vector<HWND>* wake);
    void RunPending(DWORD thread);

    std::mutex mutex_;
    std::condition_variable closed_;  // a message box may close
    bool started_ = false;
    bool ended_ = false;  // input has ended: nothing will answer
    HWND fileDialog_ = nullptr;
    DWORD fileThread_ = 0;
    std::wstring line_;
    std::string lastScreen_;
    HWND modeless_ = nullptr;
    int boxesOpen_ = 0;
    int closes_ = 0;  // Enter presses not yet taken by a waiting box
    std::vector<Pending> pending_;
};

void TerminalDesktop::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_) return;
        started_ = true;
    }
    std::weak_ptr<TerminalDesktop> self = shared_from_this();
    StartTerminal([self](const Key& key) {
        if (auto desktop = self.lock()) desktop->OnKey(key);
    });
}

void TerminalDesktop::OnFileDialogKey(const Key& key, std::vector<HWND>* wake) {
    switch (key.kind) {
        case Key::Kind::Char:
            line_.push_back(key.c);
            WriteTerminal(NarrowPath(std::wstring(1, key.c)));
            return;
        case Key::Kind::Backspace:
            if (!line_.empty()) {
                line_.pop_back();
                WriteTerminal("\b \b");
            }
            return;
        case Key::Kind::Enter:
            WriteTerminal("\n");
            pending_.push_back({fileDialog_, true, line_, {}});
            line_.clear();
            lastScreen_.clear();  // draw it again once the line has been acted on
            break;
        case Key::Kind::Escape:
            pending_.push_back({fileDialog_, false, L"", PressEscape()});
            break;
        case Key::Kind::Interrupt:
        case Key::Kind::End:
            pending_.push_back({fileDialog_, false, L"", PressCancel()});
            break;
    }
    wake->push_back(fileDialog_);
}

void TerminalDesktop::OnKey(const Key& key) {
    std::vector<HWND> wake;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (key.kind == Key::Kind::End) ended_ = true;
        if (boxesOpen_ > 0) {
            if (key.kind != Key::Kind::Char && key.kind != Key::Kind::Backspace) {
                ++closes_;
                closed_.notify_all();
            }
            return;
        }
        if (fileDialog_ != nullptr) {
            OnFileDialogKey(key, &wake);
        } else if (modeless_ != nullptr && key.kind == Key::Kind::Escape) {
            pending_.push_back({modeless_, false, L"", PressEscape()});
            wake.push_back(modeless_);
        } else if (modeless_ != nullptr && key.kind == Key::Kind::Interrupt) {
            pending_.push_back({modeless_, false, L"", PressCancel()});
            wake.push_back(modeless_);
        } else if (key.kind == Key::Kind::Interrupt) {
            // Nothing on screen to cancel: Ctrl-C stops the program, as usual.
            RestoreTerminal();
            std::raise(SIGINT);
        }
    }
    // The dialog's thread may be waiting in GetMessageW: a null message wakes
    // it, and it then takes the input in its idle time.
    for (HWND window : wake) PostMessageW(window, WM_NULL, 0, 0);
}

void TerminalDesktop::RunPending(DWORD thread) {
    std::vector<Pending> mine;
    HWND next = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mine = TakeNextInputOf(&pending_, thread, &next);
    }
    for (const Pending& input : mine) {
        std::string problem;
        std::vector<UserAction> actions{input.action};
        if (input.isLine) actions = LineActions(ViewOf(input.top), input.line, &problem);
        for (const UserAction& action : actions) Perform(input.top, action, &problem);
        if (!problem.empty()) WriteTerminal("  " + problem + "\n");
    }
    if (next != nullptr) PostMessageW(next, WM_NULL, 0, 0);
}

void TerminalDesktop::Idle() {
    const DWORD me = GetCurrentThreadId();
    RunPending(me);
    HWND top = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fileDialog_ != nullptr && fileThread_ == me) top = fileDialog_;
    }
    if (top == nullptr) return;
    const std::string screen = FileDialogScreen(ViewOf(top));
    std::lock_guard<std::mutex> lock(mutex_);
    if (screen == lastScreen_) return;
    lastScreen_ = screen;
    WriteTerminal(screen + "> " + NarrowPath(line_));
}

void TerminalDesktop::DialogShown(HWND window) {
    Start();
    const std::string screen = DialogScreen(ViewOf(window));
    std::lock_guard<std::mutex> lock(mutex_);
    modeless_ = window;
    WriteTerminal(screen);
}

void TerminalDesktop::WindowHidden(HWND window) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (window != modeless_) return;
    modeless_ = nullptr;
    WriteTerminal("\n");
}

void TerminalDesktop::ProgressSet(HWND, int position) {
    WriteTerminal(ProgressLine(position));
}

void TerminalDesktop::FileDialogOpened(HWND top, const FileDialogSetup&) {
    Start();
    std::lock_guard<std::mutex> lock(mutex_);
    fileDialog_ = top;
    fileThread_ = GetCurrentThreadId();
    line_.clear();
    lastScreen_.clear();
    if (ended_) pending_.push_back({top, false, L"", PressCancel()});  // nobody can answer
}

void TerminalDesktop::FileNameRefused(HWND, const std::wstring& name, const std::string& reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    WriteTerminal("  " + NarrowPath(name) + ": " + reason + "\n");
    lastScreen_.clear();
}

void TerminalDesktop::FileDialogClosed(HWND top, BOOL, const std::wstring&) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fileDialog_ != top) return;
    fileDialog_ = nullptr;
    line_.clear();
}

int TerminalDesktop::MessageBox(const std::string& text, const std::string& caption, UINT) {
    Start();
    std::unique_lock<std::mutex> lock(mutex_);
    WriteTerminal("\n[" + AnsiToUtf8(caption) + "]\n" + AnsiToUtf8(text) + "\n  Press Enter.\n");
    ++boxesOpen_;
    // The box's modal loop: what is posted meanwhile is dispatched, and
    // WM_QUIT takes the box away.
    while (!closed_.wait_for(lock, std::chrono::milliseconds(10),
                             [&] { return closes_ > 0 || ended_; })) {
        lock.unlock();
        const bool goOn = PumpModalLoop();
        lock.lock();
        if (!goOn) break;
    }
    if (closes_ > 0) --closes_;
    --boxesOpen_;
    return IDOK;
}

}  // namespace

std::shared_ptr<Desktop> MakeTerminalDesktop() {
    return std::make_shared<TerminalDesktop>();
}

}  // namespace emu
