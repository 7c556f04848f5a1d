// The desktop in use, what the user sees of a dialog, and how the user's
// actions reach a dialog: as posted input, like a real keyboard and mouse.
#include "platform/emu/user32/desktop.h"

#include <string>
#include <mutex>
#include <vector>

#include "platform/emu/kernel32/devices.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

struct Current {
    std::mutex mutex;
    std::shared_ptr<Desktop> desktop;
};

Current& TheCurrent() {
    static Current* current = new Current;  // used until the very end
    return *current;
}

// The control of `top` with `id`, or null (with `problem`) when the user
// cannot reach it.
HWND Reachable(HWND top, int id, std::string* problem) {
    HWND control = FindDescendant(top, id);
    if (control == nullptr || !IsWindowVisible(control)) {
        *problem = "no visible control " + std::to_string(id);
        return nullptr;
    }
    return control;
}

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(window, message, wParam, lParam) != FALSE;
}

bool Select(HWND top, const UserAction& action, std::string* problem) {
    HWND list = Reachable(top, action.control, problem);
    if (list == nullptr) return false;
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    if (action.index < 0 || action.index >= count) {
        *problem = "list " + std::to_string(action.control) + " has no entry " +
                   std::to_string(action.index) + " (it has " + std::to_string(count) + ")";
        return false;
    }
    // Arrow keys from the current entry, as a user moves a closed list.
    int at = static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0));
    std::vector<WPARAM> keys;
    if (at < 0) {
        keys.push_back(VK_HOME);
        at = 0;
    }
    for (; at < action.index; ++at) keys.push_back(VK_DOWN);
    for (; at > action.index; --at) keys.push_back(VK_UP);
    if (keys.empty()) {
        // The entry shown already: the user clicks it in the dropped-down
        // list, and Windows notifies that click like any other.
        return Post(GetParent(list), WM_COMMAND, MAKEWPARAM(action.control, CBN_SELCHANGE),
                    reinterpret_cast<LPARAM>(list));
    }
    for (WPARAM key : keys) Post(list, WM_KEYDOWN, key, 0);
    return true;
}

// A click on an entry of the dropped-down list: performed on the dialog's
// thread, so the list is read and set in one step, and the dialog hears of
// it before any later input is taken.
bool Choose(HWND top, const UserAction& action, std::string* problem) {
    HWND list = Reachable(top, action.control, problem);
    if (list == nullptr) return false;
    ControlView seen;
    if (auto kind = KindOf(list)) kind->Describe(&seen);
    if (seen.fills != action.fill) {
        *problem = "list " + std::to_string(action.control) + " was filled again since";
        return false;
    }
    if (action.index < 0 || action.index >= static_cast<int>(seen.items.size())) {
        *problem = "list " + std::to_string(action.control) + " has no entry " +
                   std::to_string(action.index);
        return false;
    }
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(action.index), 0);
    SendMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(action.control, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    return true;
}

}  // namespace

Desktop::~Desktop() = default;

std::shared_ptr<Desktop> CurrentDesktop() {
    Current& current = TheCurrent();
    std::lock_guard<std::mutex> lock(current.mutex);
    if (current.desktop == nullptr) current.desktop = ChooseDesktop();
    return current.desktop;
}

void InstallDesktop(std::shared_ptr<Desktop> desktop) {
    Current& current = TheCurrent();
    std::shared_ptr<Desktop> previous;  // released after the lock
    std::lock_guard<std::mutex> lock(current.mutex);
    previous = std::move(current.desktop);
    current.desktop = std::move(desktop);
}

const ControlView* DialogView::Control(int id) const {
    for (const ControlView& control : controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

DialogView ViewOf(HWND top) {
    DialogView view;
    WindowData data;
    if (!ReadWindow(top, &data)) return view;
    view.window = top;
    view.templateId = data.templateId;
    view.title = data.text;
    view.rect = data.rect;
    for (HWND window : Descendants(top)) {
        WindowData control;
        if (!ReadWindow(window, &control) || control.className == L"#32770") continue;
        ControlView item;
        item.id = control.id;
        item.className = control.className;
        item.text = control.text;
        item.visible = (control.style & WS_VISIBLE) != 0;
        item.rect = control.rect;
        if (auto kind = KindOf(window)) kind->Describe(&item);
        view.controls.push_back(item);
    }
    return view;
}

bool Perform(HWND top, const UserAction& action, std::string* problem) {
    problem->clear();
    switch (action.kind) {
        case UserAction::Kind::Call:
            if (action.call) action.call();
            return false;
        case UserAction::Kind::Select:
            return Select(top, action, problem);
        case UserAction::Kind::Choose:
            return Choose(top, action, problem);
        case UserAction::Kind::Click: {
            HWND button = Reachable(top, action.control, problem);
            return button != nullptr && Post(button, WM_LBUTTONDOWN, 0, 0) &&
                   Post(button, WM_LBUTTONUP, 0, 0);
        }
        case UserAction::Kind::Type: {
            HWND box = Reachable(top, action.control, problem);
            if (box == nullptr) return false;
            Post(box, EM_SETSEL, 0, -1);  // the typing replaces what was there
            for (wchar_t c : action.text) Post(box, WM_CHAR, static_cast<WPARAM>(c), 0);
            return true;
        }
        case UserAction::Kind::Key:
            return Post(top, WM_KEYDOWN, action.key, 0) && Post(top, WM_KEYUP, action.key, 0);
        case UserAction::Kind::Command:
            return Post(top, WM_COMMAND, static_cast<WPARAM>(action.control), 0);
    }
    return false;
}

std::string UserAction::Describe() const {
    switch (kind) {
        case Kind::Select:
            return "select entry " + std::to_string(index) + " of " + std::to_string(control);
        case Kind::Choose:
            return "click entry " + std::to_string(index) + " of " + std::to_string(control);
        case Kind::Click:
            return "click " + std::to_string(control);
        case Kind::Type:
            return "type \"" + NarrowPath(text) + "\" into " + std::to_string(control);
        case Kind::Key:
            return "press key " + std::to_string(key);
        case Kind::Command:
            return "post command " + std::to_string(control);
        case Kind::Call:
            return "call";
    }
    return "";
}

UserAction SelectItem(int control, int index) {
    UserAction action;
    action.kind = UserAction::Kind::Select;
    action.control = control;
    action.index = index;
    return action;
}

UserAction ChooseItem(int control, int index, unsigned fill) {
    UserAction action = SelectItem(control, index);
    action.kind = UserAction::Kind::Choose;
    action.fill = fill;
    return action;
}

UserAction Click(int control) {
    UserAction action;
    action.kind = UserAction::Kind::Click;
    action.control = control;
    return action;
}

UserAction TypeText(int control, std::wstring text) {
    UserAction action;
    action.kind = UserAction::Kind::Type;
    action.control = control;
    action.text = std::move(text);
    return action;
}

UserAction PressKey(WPARAM virtualKey) {
    UserAction action;
    action.kind = UserAction::Kind::Key;
    action.key = virtualKey;
    return action;
}

UserAction PostCommand(int command) {
    UserAction action;
    action.kind = UserAction::Kind::Command;
    action.control = command;
    return action;
}

UserAction Call(std::function<void()> call) {
    UserAction action;
    action.call = std::move(call);
    return action;
}

UserAction PickOutput(int index) {
    return SelectItem(IDC_OUTPUT, index);
}
UserAction PressRefresh() {
    return Click(IDC_REFRESH);
}
UserAction TypeFileName(std::wstring name) {
    return TypeText(cmb13, std::move(name));
}
UserAction PressSend() {
    return Click(IDOK);
}
UserAction PressCancel() {
    return Click(IDCANCEL);
}
UserAction PressEscape() {
    return PressKey(VK_ESCAPE);
}

}  // namespace emu
