// Control half of the emulated desktop: the user in front of the screen.
//
// By default a program on Linux talks to a person through GTK windows when
// it can open a display, else through the terminal (UseTerminalDesktop).
// Tests use the scripted desktop instead: they say in advance what the user
// does when a file dialog opens, when a dialog appears or when a progress
// bar reaches a position, and read back afterwards what was shown. The
// user's input reaches the window's thread as posted input messages (clicks,
// keys, characters), processed by whatever message loop the code runs.
// Nothing unscripted waits: a file dialog left without a script is
// cancelled, a message box without one is closed with OK, and both are
// listed by Unscripted().
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/emu/user32/user_types.h"
#include "resources/resource.h"

namespace emu {

// One thing the user does.
struct UserAction {
    enum class Kind { Select, Choose, Click, Type, Key, Command, Call };
    Kind kind = Kind::Call;
    int control = 0;             // control ID (Select, Choose, Click, Type), command ID (Command)
    int index = 0;               // list position (Select, Choose)
    unsigned fill = 0;           // which filling of the list was seen (Choose)
    std::wstring text;           // typed text (Type)
    WPARAM key = 0;              // virtual key (Key)
    std::function<void()> call;  // run on the window's thread (Call)

    std::string Describe() const;
};

// Chooses entry `index` of a drop-down list with the arrow keys, as a user
// does: every change of selection notifies the dialog. The entry already
// shown is clicked in the dropped-down list, which notifies it too.
UserAction SelectItem(int control, int index);
// Clicks entry `index` of a dropped-down list, as the person saw it in its
// `fill`th filling (ControlView::fills): the entry is selected and the
// dialog notified, whatever was selected before. A list filled again since
// shows other entries: the click is dropped.
UserAction ChooseItem(int control, int index, unsigned fill);
// Clicks a button.
UserAction Click(int control);
// Replaces the text of an edit box by typing `text`.
UserAction TypeText(int control, std::wstring text);
// Presses a key while the dialog has the focus.
UserAction PressKey(WPARAM virtualKey);
// Posts WM_COMMAND with `command` to the dialog, as another program may.
UserAction PostCommand(int command);
// Runs `call` when the action comes up (on the window's thread), e.g. to plug
// in a device before pressing Refresh.
UserAction Call(std::function<void()> call);

// The same, in the words of the program's dialogs.
UserAction PickOutput(int index);            // in the "&Output:" list
UserAction PressRefresh();                   // "Refresh"
UserAction TypeFileName(std::wstring name);  // the file-open dialog's name box
UserAction PressSend();                      // the file-open dialog's IDOK button
UserAction PressCancel();                    // IDCANCEL
UserAction PressEscape();

// What the user saw of one control.
struct ControlView {
    int id = 0;
    std::wstring className;
    std::wstring text;
    bool visible = false;
    RECT rect{};                      // screen coordinates
    std::vector<std::wstring> items;  // list entries, in list order
    int selection = -1;               // selected list entry
    int position = 0;                 // progress-bar position
    unsigned fills = 0;               // times the list was emptied (CB_RESETCONTENT)
};

// What the user saw of one dialog at one moment.
struct DialogView {
    HWND window = nullptr;
    int templateId = 0;  // 0 for the file-open dialog
    std::wstring title;
    RECT rect{};                        // window rectangle, screen coordinates
    std::vector<ControlView> controls;  // every control, child dialogs' included

    // The first control with `id`; null when there is none.
    const ControlView* Control(int id) const;
};

// One showing of the file-open dialog.
struct FileDialogRecord {
    DWORD thread = 0;
    bool scripted = false;
    std::vector<DialogView> views;      // each distinct state the user saw
    std::vector<std::wstring> refused;  // names refused while it was open
    BOOL result = FALSE;
    std::wstring path;  // the chosen path when result is TRUE
};

struct MessageBoxRecord {
    DWORD thread = 0;  // GetCurrentThreadId of the thread that showed it
    std::thread::id threadId;
    std::string caption;
    std::string text;
    UINT type = 0;   // MB_* flags as passed
    int answer = 0;  // the button that closed it
    bool scripted = false;
    // WM_QUIT ended its modal loop before the user could read or answer it.
    bool endedByQuit = false;

    UINT Icon() const { return type & MB_ICONMASK; }
};

// Replaces the desktop with a fresh scripted one: no scripts, no records.
void UseScriptedDesktop();
// Replaces the desktop with one that talks to the terminal (the default).
void UseTerminalDesktop();

// The next showing of a file-open dialog runs `actions`, one after another,
// each when the previous one's input has been processed. Several calls
// script successive showings.
void ScriptFileDialog(std::vector<UserAction> actions);
// When a dialog from template `templateId` next becomes visible, its user
// performs `actions` at once.
void ScriptDialog(int templateId, std::vector<UserAction> actions);
// When a progress bar is first set to `position` or beyond, the user
// performs `actions` on its dialog at once.
void ScriptProgress(int position, std::vector<UserAction> actions);
// The next message box is closed with `button`; `call` runs first, on the
// thread that shows the box.
void ScriptMessageBox(int button = IDOK, std::function<void()> call = {});

std::vector<FileDialogRecord> FileDialogs();
// Dialogs made from templates, as they looked when they became visible.
std::vector<DialogView> ShownDialogs();
// Every position a progress bar was set to, in order, after clamping.
std::vector<int> ProgressPositions();
std::vector<MessageBoxRecord> MessageBoxes();
// What the user had to do without a script (and scripted actions that could
// not be done); empty when everything went as scripted.
std::vector<std::string> Unscripted();

// Forgets InitCommonControls, as in a process that has not called it yet.
void ForgetCommonControls();

// Windows not yet destroyed, on every thread: a run that ended cleanly
// leaves the count where it found it.
std::size_t LiveWindowCount();

}  // namespace emu
