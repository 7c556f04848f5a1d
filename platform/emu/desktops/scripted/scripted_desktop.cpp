// The scripted desktop of tests: a user who does what the test said, when it
// said, and remembers everything the program showed.
#include <algorithm>
#include <deque>
#include <mutex>

#include "platform/emu/desktops/desktops.h"
#include "platform/emu/kernel32/devices.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/message_queue.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool SameView(const DialogView& a, const DialogView& b) {
    if (a.title != b.title || !SameRect(a.rect, b.rect) || a.controls.size() != b.controls.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.controls.size(); ++i) {
        const ControlView &x = a.controls[i], &y = b.controls[i];
        if (x.id != y.id || x.text != y.text || x.visible != y.visible || x.items != y.items ||
            x.selection != y.selection || x.position != y.position || !SameRect(x.rect, y.rect)) {
            return false;
        }
    }
    return true;
}

class ScriptedDesktop : public Desktop {
  public:
    void ScriptFileDialog(std::vector<UserAction> actions) {
        std::lock_guard<std::mutex> lock(mutex_);
        fileScripts_.push_back(std::move(actions));
    }
    void ScriptDialog(int templateId, std::vector<UserAction> actions) {
        std::lock_guard<std::mutex> lock(mutex_);
        dialogScripts_.push_back({templateId, std::move(actions)});
    }
    void ScriptProgress(int position, std::vector<UserAction> actions) {
        std::lock_guard<std::mutex> lock(mutex_);
        progressScripts_.push_back({position, std::move(actions), false});
    }
    void ScriptMessageBox(int button, std::function<void()> call) {
        std::lock_guard<std::mutex> lock(mutex_);
        boxScripts_.push_back({button, std::move(call)});
    }

    template <typename T>
    T Read(T ScriptedDesktop::*member) {
        std::lock_guard<std::mutex> lock(mutex_);
        return this->*member;
    }

    std::vector<FileDialogRecord> fileDialogs_;
    std::vector<DialogView> shown_;
    std::vector<int> positions_;
    std::vector<MessageBoxRecord> boxes_;
    std::vector<std::string> unscripted_;

    void Idle() override;
    void DialogShown(HWND window) override;
    void ProgressSet(HWND bar, int position) override;
    void FileDialogOpened(HWND top, const FileDialogSetup&) override;
    void FileNameRefused(HWND top, const std::wstring& name, const std::string&) override;
    void FileDialogClosed(HWND top, BOOL result, const std::wstring& path) override;
    std::wstring LastChosenFolder() override;
    int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
    void MessageBoxEndedByQuit(const std::string& text, const std::string& caption,
                               UINT type) override;

  private:
    struct DialogScript {
        int templateId;
        std::vector<UserAction> actions;
    };
    struct ProgressScript {
        int position;
        std::vector<UserAction> actions;
        bool fired;
    };
    struct BoxScript {
        int button;
        std::function<void()> call;
    };
    struct OpenFileDialog {
        HWND top;
        DWORD thread;
        std::deque<UserAction> remaining;
        std::size_t record;
        bool cancelled;
    };
    enum class Next { Act, Cancel, Wait };

    OpenFileDialog* Find(HWND top) {
        for (OpenFileDialog& open : open_) {
            if (open.top == top) return &open;
        }
        return nullptr;
    }
    void Remember(HWND top, const DialogView& view);
    Next TakeNext(HWND top, UserAction* action);
    void PerformAll(HWND top, const std::vector<UserAction>& actions, const std::string& when);

    std::mutex mutex_;
    std::deque<std::vector<UserAction>> fileScripts_;
    std::vector<DialogScript> dialogScripts_;
    std::vector<ProgressScript> progressScripts_;
    std::deque<BoxScript> boxScripts_;
    std::vector<OpenFileDialog> open_;
    std::wstring lastChosen_;
};

void ScriptedDesktop::Remember(HWND top, const DialogView& view) {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFileDialog* open = Find(top);
    if (open == nullptr) return;
    auto& views = fileDialogs_[open->record].views;
    if (views.empty() || !SameView(views.back(), view)) views.push_back(view);
}

ScriptedDesktop::Next ScriptedDesktop::TakeNext(HWND top, UserAction* action) {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFileDialog* open = Find(top);
    if (open == nullptr) return Next::Wait;
    if (!open->remaining.empty()) {
        *action = std::move(open->remaining.front());
        open->remaining.pop_front();
        return Next::Act;
    }
    if (open->cancelled) return Next::Wait;
    // Nobody said what to do next: the user gives up rather than let the
    // test wait for ever.
    open->cancelled = true;
    if (fileDialogs_[open->record].scripted) {
        unscripted_.push_back("file dialog still open after its script: cancelled");
    }
    return Next::Cancel;
}

void ScriptedDesktop::Idle() {
    const DWORD me = GetCurrentThreadId();
    HWND top = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const OpenFileDialog& open : open_) {
            if (open.thread == me) top = open.top;
        }
    }
    if (top == nullptr) return;
    Remember(top, ViewOf(top));
    for (;;) {
        UserAction action;
        const Next next = TakeNext(top, &action);
        if (next == Next::Wait) return;
        if (next == Next::Cancel) action = PressCancel();
        std::string problem;
        if (Perform(top, action, &problem)) return;  // its input is on the way
        if (!problem.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            unscripted_.push_back("file dialog: could not " + action.Describe() + ": " + problem);
        }
    }
}

void ScriptedDesktop::PerformAll(HWND top, const std::vector<UserAction>& actions,
                                 const std::string& when) {
    for (const UserAction& action : actions) {
        std::string problem;
        Perform(top, action, &problem);
        if (!problem.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            unscripted_.push_back(when + ": could not " + action.Describe() + ": " + problem);
        }
    }
}

void ScriptedDesktop::DialogShown(HWND window) {
    const DialogView view = ViewOf(window);
    std::vector<UserAction> actions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shown_.push_back(view);
        auto it =
            std::find_if(dialogScripts_.begin(), dialogScripts_.end(),
                         [&](const DialogScript& s) { return s.templateId == view.templateId; });
        if (it == dialogScripts_.end()) return;
        actions = std::move(it->actions);
        dialogScripts_.erase(it);
    }
    PerformAll(window, actions, "dialog " + std::to_string(view.templateId));
}

void ScriptedDesktop::ProgressSet(HWND bar, int position) {
    std::vector<UserAction> actions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        positions_.push_back(position);
        for (ProgressScript& script : progressScripts_) {
            if (!script.fired && position >= script.position) {
                script.fired = true;
                actions = std::move(script.actions);
                break;
            }
        }
    }
    PerformAll(TopLevelOf(bar), actions, "progress " + std::to_string(position));
}

void ScriptedDesktop::FileDialogOpened(HWND top, const FileDialogSetup&) {
    std::lock_guard<std::mutex> lock(mutex_);
    FileDialogRecord record;
    record.thread = GetCurrentThreadId();
    OpenFileDialog open{top, record.thread, {}, fileDialogs_.size(), false};
    if (!fileScripts_.empty()) {
        record.scripted = true;
        for (UserAction& action : fileScripts_.front()) open.remaining.push_back(std::move(action));
        fileScripts_.pop_front();
    } else {
        unscripted_.push_back("file dialog opened without a script: cancelled");
    }
    fileDialogs_.push_back(record);
    open_.push_back(std::move(open));
}

void ScriptedDesktop::FileNameRefused(HWND top, const std::wstring& name, const std::string&) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (OpenFileDialog* open = Find(top)) fileDialogs_[open->record].refused.push_back(name);
}

void ScriptedDesktop::FileDialogClosed(HWND top, BOOL result, const std::wstring& path) {
    Remember(top, ViewOf(top));
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFileDialog* open = Find(top);
    if (open == nullptr) return;
    fileDialogs_[open->record].result = result;
    fileDialogs_[open->record].path = path;
    open_.erase(open_.begin() + (open - open_.data()));
    if (result) lastChosen_ = path.substr(0, std::max<std::size_t>(path.rfind(L'/'), 1));
}

// The scripted user's history lasts as long as the desktop.
std::wstring ScriptedDesktop::LastChosenFolder() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastChosen_;
}

// A box as the calling thread shows it; the answer is filled in later.
MessageBoxRecord NewBoxRecord(const std::string& text, const std::string& caption, UINT type) {
    MessageBoxRecord record;
    record.thread = GetCurrentThreadId();
    record.threadId = std::this_thread::get_id();
    record.caption = caption;
    record.text = text;
    record.type = type;
    return record;
}

int ScriptedDesktop::MessageBox(const std::string& text, const std::string& caption, UINT type) {
    MessageBoxRecord record = NewBoxRecord(text, caption, type);
    record.answer = IDOK;
    std::function<void()> call;
    std::size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!boxScripts_.empty()) {
            record.scripted = true;
            record.answer = boxScripts_.front().button;
            call = std::move(boxScripts_.front().call);
            boxScripts_.pop_front();
        } else {
            unscripted_.push_back("message box \"" + caption + "\": " + text + ": closed with OK");
        }
        index = boxes_.size();
        boxes_.push_back(record);
    }
    if (call) call();
    // What was posted while the user read it: a WM_QUIT among it (a dialog
    // destroyed meanwhile) ends the box before the user answers.
    if (!PumpModalLoop()) {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_[index].endedByQuit = true;
        boxes_[index].answer = 0;
        return IDOK;  // as for a box that WM_QUIT ended at once
    }
    return record.answer;
}

void ScriptedDesktop::MessageBoxEndedByQuit(const std::string& text, const std::string& caption,
                                            UINT type) {
    MessageBoxRecord record = NewBoxRecord(text, caption, type);
    record.endedByQuit = true;
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.push_back(record);
}

std::shared_ptr<ScriptedDesktop> Scripted() {
    auto scripted = std::dynamic_pointer_cast<ScriptedDesktop>(CurrentDesktop());
    if (scripted == nullptr) {
        scripted = std::make_shared<ScriptedDesktop>();
        InstallDesktop(scripted);
    }
    return scripted;
}

}  // namespace

std::shared_ptr<Desktop> MakeScriptedDesktop() {
    return std::make_shared<ScriptedDesktop>();
}

void UseScriptedDesktop() {
    InstallDesktop(std::make_shared<ScriptedDesktop>());
    // A fresh desktop starts the caller's queue afresh too: a WM_QUIT left by
    // an earlier run would otherwise end the next dialog at once.
    CurrentQueue().Clear();
}

void ScriptFileDialog(std::vector<UserAction> actions) {
    Scripted()->ScriptFileDialog(std::move(actions));
}

void ScriptDialog(int templateId, std::vector<UserAction> actions) {
    Scripted()->ScriptDialog(templateId, std::move(actions));
}

void ScriptProgress(int position, std::vector<UserAction> actions) {
    Scripted()->ScriptProgress(position, std::move(actions));
}

void ScriptMessageBox(int button, std::function<void()> call) {
    Scripted()->ScriptMessageBox(button, std::move(call));
}

std::vector<FileDialogRecord> FileDialogs() {
    return Scripted()->Read(&ScriptedDesktop::fileDialogs_);
}

std::vector<DialogView> ShownDialogs() {
    return Scripted()->Read(&ScriptedDesktop::shown_);
}

std::vector<int> ProgressPositions() {
    return Scripted()->Read(&ScriptedDesktop::positions_);
}

std::vector<MessageBoxRecord> MessageBoxes() {
    return Scripted()->Read(&ScriptedDesktop::boxes_);
}

std::vector<std::string> Unscripted() {
    return Scripted()->Read(&ScriptedDesktop::unscripted_);
}

}  // namespace emu
