// The GTK desktop: the program's dialogs as GTK windows, shown by the GTK
// thread. The program's threads only hand that thread copies of what their
// dialogs show; what the person does there comes back as the posted input
// that the terminal desktop gives, performed on the dialog's own thread.
// When the display is lost every window is closed as its close box would,
// now and from then on, so the program ends as after a Cancel.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/emu/desktops/desktops.h"
#include "platform/emu/kernel32/devices.h"
#include "platform/emu/desktops/gtk/gtk_thread.h"
#include "platform/emu/desktops/gtk/gtk_views.h"
#include "platform/emu/desktops/gtk/gtk_windows.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/desktops/pending_input.h"
#include "platform/emu/user32/interrupts.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

// The GTK windows on screen, keyed by the emulated window they show. Used on
// the GTK thread only.
struct Screen {
    std::map<HWND, std::unique_ptr<FileChooser>> choosers;
    std::map<HWND, std::unique_ptr<ProgressWindow>> windows;

    void* Parent() const { return windows.empty() ? nullptr : windows.begin()->second->Window(); }
};

class GtkDesktop : public Desktop, public std::enable_shared_from_this<GtkDesktop> {
  public:
    explicit GtkDesktop(GtkDisplay* display) : display_(display) {}

    // Called once, off the GTK thread.
    void DisplayLost(const std::string& why);

    void Idle() override;
    void DialogShown(HWND window) override;
    void WindowHidden(HWND window) override;
    void ProgressSet(HWND bar, int position) override;
    void FileDialogOpened(HWND top, const FileDialogSetup& setup) override;
    void FileNameRefused(HWND top, const std::wstring& name, const std::string& reason) override;
    void FileDialogClosed(HWND top, BOOL result, const std::wstring& path) override;
    std::wstring LastChosenFolder() override;
    int MessageBox(const std::string& text, const std::string& caption, UINT type) override;

  private:
    struct Pending {
        HWND top;
        PersonInput input;
    };

    InputSink SinkFor(HWND top);
    void Queue(HWND top, const PersonInput& input);
    // Notes a dialog that came up: false, with the dialog closed, when the
    // display is already lost.
    bool Opened(HWND top, bool fileDialog);
    bool Gone();
    void RunPending(DWORD thread);
    static void Act(HWND top, const PersonInput& input);

    GtkDisplay* display_;
    std::shared_ptr<Screen> screen_ = std::make_shared<Screen>();
    std::mutex mutex_;
    std::vector<Pending> pending_;
    std::vector<HWND> shown_;  // the dialogs on screen, the file dialog aside
    bool gone_ = false;        // the display was lost
    HWND fileDialog_ = nullptr;
    DWORD fileThread_ = 0;
    ShownDialog lastShown_;  // of the file dialog, as GTK last got it
};

// Called on the GTK thread: the input waits for the dialog's thread.
InputSink GtkDesktop::SinkFor(HWND top) {
    std::weak_ptr<GtkDesktop> self = shared_from_this();
    return [self, top](const PersonInput& input) {
        if (auto desktop = self.lock()) desktop->Queue(top, input);
    };
}

// A null message wakes the dialog's thread if it waits in GetMessageW.
void GtkDesktop::Queue(HWND top, const PersonInput& input) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back({top, input});
    }
    PostMessageW(top, WM_NULL, 0, 0);
}

PersonInput Input(PersonInput::Kind kind) {
    PersonInput input;
    input.kind = kind;
    return input;
}

bool GtkDesktop::Opened(HWND top, bool fileDialog) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fileDialog) {
            fileDialog_ = top;
            fileThread_ = GetCurrentThreadId();
        }
        if (!gone_) {
            if (!fileDialog) shown_.push_back(top);
            return true;
        }
    }
    Queue(top, Input(fileDialog ? PersonInput::Kind::Cancel : PersonInput::Kind::Close));
    return false;
}

bool GtkDesktop::Gone() {
    std::lock_guard<std::mutex> lock(mutex_);
    return gone_;
}

// The record comes first, as for a signal: the Cancel may end the process.
void GtkDesktop::DisplayLost(const std::string& why) {
    std::vector<Pending> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gone_ = true;
        for (HWND top : shown_) closing.push_back({top, Input(PersonInput::Kind::Close)});
        if (fileDialog_ != nullptr)
            closing.push_back({fileDialog_, Input(PersonInput::Kind::Cancel)});
    }
    ReportDisplayLost(why);
    for (const Pending& close : closing) Queue(close.top, close.input);
}

void GtkDesktop::Act(HWND top, const PersonInput& input) {
    std::vector<UserAction> actions;
    switch (input.kind) {
        case PersonInput::Kind::Select:
            actions.push_back(ChooseItem(input.control, input.index, input.fill));
            break;
        case PersonInput::Kind::Click:
            actions.push_back(Click(input.control));
            break;
        case PersonInput::Kind::Escape:
            actions.push_back(PressEscape());
            break;
        case PersonInput::Kind::Cancel:
            actions.push_back(PressCancel());
            break;
        case PersonInput::Kind::Open:
            actions = {TypeFileName(WidePath(input.path)), PressSend()};
            break;
        case PersonInput::Kind::Close:
            // The close box: Windows sends the dialog WM_CLOSE, which it
            // takes as Cancel.
            PostMessageW(top, WM_CLOSE, 0, 0);
            break;
    }
    std::string problem;
    for (const UserAction& action : actions) Perform(top, action, &problem);
}

void GtkDesktop::RunPending(DWORD thread) {
    std::vector<Pending> mine;
    HWND next = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        mine = TakeNextInputOf(&pending_, thread, &next);
    }
    for (const Pending& input : mine) Act(input.top, input.input);
    if (next != nullptr) PostMessageW(next, WM_NULL, 0, 0);
}

void GtkDesktop::Idle() {
    const DWORD me = GetCurrentThreadId();
    RunPending(me);
    HWND top = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fileDialog_ != nullptr && fileThread_ == me) top = fileDialog_;
    }
    if (top == nullptr) return;
    ShownDialog shown = ShownFileDialog(top);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (SameLists(shown, lastShown_)) return;
        lastShown_ = shown;
    }
    display_->Post([screen = screen_, top, shown] {
        auto chooser = screen->choosers.find(top);
        if (chooser != screen->choosers.end()) chooser->second->Update(shown);
    });
}

void GtkDesktop::DialogShown(HWND window) {
    if (!Opened(window, false)) return;
    const ShownDialog shown = Shown(ViewOf(window));
    display_->Post([screen = screen_, window, shown, sink = SinkFor(window)] {
        screen->windows[window] = std::make_unique<ProgressWindow>(shown, sink);
    });
}

// A window the program is done with is gone before it goes on, so nothing
// is drawn while the process ends.
void GtkDesktop::WindowHidden(HWND window) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shown_.erase(std::remove(shown_.begin(), shown_.end(), window), shown_.end());
    }
    display_->PostAndWait([screen = screen_, window] { screen->windows.erase(window); });
}

void GtkDesktop::ProgressSet(HWND bar, int position) {
    display_->Post([screen = screen_, top = TopLevelOf(bar), position] {
        auto window = screen->windows.find(top);
        if (window != screen->windows.end()) window->second->SetPosition(position);
    });
}

void GtkDesktop::FileDialogOpened(HWND top, const FileDialogSetup& setup) {
    if (!Opened(top, true)) return;
    const ShownDialog shown = ShownFileDialog(top);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastShown_ = shown;
    }
    display_->Post(
        [screen = screen_, top, shown, chooser = ChooserOf(setup, top), sink = SinkFor(top)] {
            screen->choosers[top] = std::make_unique<FileChooser>(shown, chooser, sink);
        });
}

void GtkDesktop::FileNameRefused(HWND top, const std::wstring& name, const std::string& reason) {
    display_->Post([screen = screen_, top, name = NarrowPath(name), reason] {
        auto chooser = screen->choosers.find(top);
        if (chooser != screen->choosers.end()) chooser->second->Refused(name, reason);
    });
}

// A file chosen goes to Recent files, where the next run's chooser starts.
void GtkDesktop::FileDialogClosed(HWND top, BOOL result, const std::wstring& path) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fileDialog_ == top) fileDialog_ = nullptr;
    }
    display_->PostAndWait(
        [screen = screen_, top, chosen = result ? NarrowPath(path) : std::string()] {
            screen->choosers.erase(top);
            if (!chosen.empty()) AddRecentFile(chosen);
        });
}

std::wstring GtkDesktop::LastChosenFolder() {
    auto folder = std::make_shared<std::string>();
    if (!display_->PostAndWait([folder] { *folder = LastRecentFolder(); })) return L"";
    return WidePath(*folder);
}

int GtkDesktop::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        int id = 0;
        void* box = nullptr;  // on the screen, unanswered; used on the GTK thread
    };
    if (Gone()) return IDOK;  // as if closed at once
    auto answer = std::make_shared<Answer>();
    display_->Post(
        [screen = screen_, answer, text = AnsiToUtf8(text), caption = AnsiToUtf8(caption), type] {
            void* box = ShowMessageBox(screen->Parent(), caption, text, IconOf(type),
                                       ButtonsOf(type), [answer](BoxAnswer button) {
                                           std::lock_guard<std::mutex> lock(answer->mutex);
                                           answer->id = IdOf(button);
                                           answer->box = nullptr;
                                           answer->given.notify_all();
                                       });
            std::lock_guard<std::mutex> lock(answer->mutex);
            answer->box = box;
        });
    // The box's modal loop: what is posted meanwhile is dispatched, and a
    // WM_QUIT (posted again for the caller) takes the box down unanswered,
    // as on Windows.
    std::unique_lock<std::mutex> lock(answer->mutex);
    while (!answer->given.wait_for(lock, std::chrono::milliseconds(10),
                                   [&] { return answer->id != 0; })) {
        lock.unlock();
        const bool goOn = PumpModalLoop() && !Gone();
        lock.lock();
        if (!goOn) {
            display_->Post([answer] {
                std::lock_guard<std::mutex> held(answer->mutex);
                if (answer->box != nullptr) CloseMessageBox(answer->box);
                answer->box = nullptr;
            });
            return IDOK;  // what a box that was never answered gives
        }
    }
    return answer->id;
}

}  // namespace

std::shared_ptr<Desktop> MakeGtkDesktop(std::string* whyNot) {
    GtkDisplay* display = OpenGtkDisplay(whyNot);
    if (display == nullptr) return nullptr;
    auto desktop = std::make_shared<GtkDesktop>(display);
    std::weak_ptr<GtkDesktop> weak = desktop;
    display->OnLost([weak](const std::string& why) {
        if (auto alive = weak.lock()) alive->DisplayLost(why);
    });
    return desktop;
}

}  // namespace emu
