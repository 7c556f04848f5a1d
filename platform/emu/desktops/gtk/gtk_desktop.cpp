// The GTK desktop: the program's dialogs as GTK windows, shown by the GTK
// thread. The program's threads only hand that thread copies of what their
// dialogs show; what the person does there comes back as the posted input
// that the terminal desktop gives, performed on the dialog's own thread.
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
    explicit GtkDesktop(GtkPoster post) : post_(std::move(post)) {}

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
    // Runs `task` on the GTK thread and waits for it: a window the program
    // is done with is gone before it goes on, so nothing is drawn while the
    // process ends.
    void PostAndWait(std::function<void()> task);
    void RunPending(DWORD thread);
    static void Act(HWND top, const PersonInput& input);

    GtkPoster post_;
    std::shared_ptr<Screen> screen_ = std::make_shared<Screen>();
    std::mutex mutex_;
    std::vector<Pending> pending_;
    HWND fileDialog_ = nullptr;
    DWORD fileThread_ = 0;
    ShownDialog lastShown_;  // of the file dialog, as GTK last got it
};

// Called on the GTK thread: the input waits for the dialog's thread, which a
// null message wakes if it waits in GetMessageW.
InputSink GtkDesktop::SinkFor(HWND top) {
    std::weak_ptr<GtkDesktop> self = shared_from_this();
    return [self, top](const PersonInput& input) {
        auto desktop = self.lock();
        if (desktop == nullptr) return;
        {
            std::lock_guard<std::mutex> lock(desktop->mutex_);
            desktop->pending_.push_back({top, input});
        }
        PostMessageW(top, WM_NULL, 0, 0);
    };
}

void GtkDesktop::PostAndWait(std::function<void()> task) {
    struct Done {
        std::mutex mutex;
        std::condition_variable signal;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    post_([done, task = std::move(task)] {
        task();
        std::lock_guard<std::mutex> lock(done->mutex);
        done->done = true;
        done->signal.notify_all();
    });
    std::unique_lock<std::mutex> lock(done->mutex);
    done->signal.wait(lock, [&] { return done->done; });
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
    post_([screen = screen_, top, shown] {
        auto chooser = screen->choosers.find(top);
        if (chooser != screen->choosers.end()) chooser->second->Update(shown);
    });
}

void GtkDesktop::DialogShown(HWND window) {
    const ShownDialog shown = Shown(ViewOf(window));
    post_([screen = screen_, window, shown, sink = SinkFor(window)] {
        screen->windows[window] = std::make_unique<ProgressWindow>(shown, sink);
    });
}

void GtkDesktop::WindowHidden(HWND window) {
    PostAndWait([screen = screen_, window] { screen->windows.erase(window); });
}

void GtkDesktop::ProgressSet(HWND bar, int position) {
    post_([screen = screen_, top = TopLevelOf(bar), position] {
        auto window = screen->windows.find(top);
        if (window != screen->windows.end()) window->second->SetPosition(position);
    });
}

void GtkDesktop::FileDialogOpened(HWND top, const FileDialogSetup& setup) {
    const ShownDialog shown = ShownFileDialog(top);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fileDialog_ = top;
        fileThread_ = GetCurrentThreadId();
        lastShown_ = shown;
    }
    post_([screen = screen_, top, shown, chooser = ChooserOf(setup, top), sink = SinkFor(top)] {
        screen->choosers[top] = std::make_unique<FileChooser>(shown, chooser, sink);
    });
}

void GtkDesktop::FileNameRefused(HWND top, const std::wstring& name, const std::string& reason) {
    post_([screen = screen_, top, name = NarrowPath(name), reason] {
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
    PostAndWait([screen = screen_, top, chosen = result ? NarrowPath(path) : std::string()] {
        screen->choosers.erase(top);
        if (!chosen.empty()) AddRecentFile(chosen);
    });
}

std::wstring GtkDesktop::LastChosenFolder() {
    std::string folder;
    PostAndWait([&folder] { folder = LastRecentFolder(); });
    return WidePath(folder);
}

int GtkDesktop::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        int id = 0;
        void* box = nullptr;  // on the screen, unanswered; used on the GTK thread
    };
    auto answer = std::make_shared<Answer>();
    post_([screen = screen_, answer, text = AnsiToUtf8(text), caption = AnsiToUtf8(caption), type] {
        void* box = ShowMessageBox(screen->Parent(), caption, text, IconOf(type), ButtonsOf(type),
                                   [answer](BoxAnswer button) {
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
        const bool goOn = PumpModalLoop();
        lock.lock();
        if (!goOn) {
            post_([answer] {
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
    GtkPoster post = OpenGtkDisplay(whyNot);
    if (post == nullptr) return nullptr;
    return std::make_shared<GtkDesktop>(std::move(post));
}

}  // namespace emu
