// The user behind the emulated screen, as the window functions see it: told
// what appears, asked to act when a thread waits for input. This is the
// interface user32 owns and the desktops (platform/emu/desktops) implement:
// the scripted one of tests, and for people the GTK one when a display can
// be opened, else the terminal one. user32 calls nothing of theirs but this.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/emu/user32/desktop_control.h"

namespace emu {

// What the file-open dialog was asked to offer, beyond what its controls show.
struct FileDialogSetup {
    std::vector<std::pair<std::wstring, std::wstring>> filters;  // name, "*.plt;*.pm"
    int filterIndex = 0;                                         // from 0
    std::wstring folder;                                         // where it opens
    std::wstring file;  // the full path of a file named in advance, or empty
};

class Desktop {
  public:
    virtual ~Desktop();
    // The calling thread is about to wait for input: its queue is empty.
    virtual void Idle() {}
    // A top-level dialog made from a template became visible.
    virtual void DialogShown(HWND) {}
    // A top-level window was hidden or is being destroyed.
    virtual void WindowHidden(HWND) {}
    // A progress bar was set to `position` (already clamped).
    virtual void ProgressSet(HWND, int) {}
    // The file-open dialog `top` is up and about to wait for the user.
    virtual void FileDialogOpened(HWND, const FileDialogSetup&) {}
    virtual void FileNameRefused(HWND, const std::wstring&, const std::string&) {}
    virtual void FileDialogClosed(HWND, BOOL, const std::wstring&) {}
    // The folder of the file last chosen in this program's file dialog, as
    // the person's own history keeps it (Windows keeps one per program);
    // empty when there is none.
    virtual std::wstring LastChosenFolder() { return {}; }
    // A message box, modal on the calling thread; returns the button pressed.
    // While the user reads it, the desktop calls PumpModalLoop on that
    // thread, as the box's own loop, and ends the box when it says so.
    virtual int MessageBox(const std::string& text, const std::string& caption, UINT type) = 0;
    // A message box came up and its modal loop met WM_QUIT at once: it was
    // gone before the user could read it.
    virtual void MessageBoxEndedByQuit(const std::string&, const std::string&, UINT) {}
};

// One turn of a message box's modal loop, on the box's thread: dispatches
// what has been posted to the thread; false when WM_QUIT came, which ends
// the box and is posted again for the caller's own loop.
bool PumpModalLoop();

// The desktop in use; calls keep it alive while a replacement comes in.
std::shared_ptr<Desktop> CurrentDesktop();
void InstallDesktop(std::shared_ptr<Desktop> desktop);

// What `top` shows now, child dialogs included. On the window's thread.
DialogView ViewOf(HWND top);

// Posts the input of `action` to the dialog `top`, on its thread. Returns
// false when it posted nothing; `problem` then says why, or stays empty when
// there was nothing to do (a Call, or a list already at the chosen entry).
bool Perform(HWND top, const UserAction& action, std::string* problem);

// The desktop a process starts with, chosen by the desktops
// (platform/emu/desktops) when a window function first needs one.
std::shared_ptr<Desktop> ChooseDesktop();

}  // namespace emu
