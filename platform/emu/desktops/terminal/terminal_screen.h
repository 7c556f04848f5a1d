// How the terminal desktop draws dialogs as text, and what a line typed at
// the file-open dialog's prompt means.
#pragma once

#include <string>
#include <vector>

#include "platform/emu/user32/desktop_control.h"

namespace emu {

// The file-open dialog: title, file name, the application's lists with
// numbered entries, and the choices.
std::string FileDialogScreen(const DialogView& view);
// Any other dialog: its caption and texts.
std::string DialogScreen(const DialogView& view);
// One line that redraws itself: "\r  [#####.....]  50%".
std::string ProgressLine(int position);

// The user's actions for a line typed at the file-open dialog: empty for
// the Open (Send) button, a number for a list entry, a button's letter, "c"
// for Cancel, anything else a file name followed by Open. Empty with
// `complaint` set when the line names nothing that is there.
std::vector<UserAction> LineActions(const DialogView& view, const std::wstring& line,
                                    std::string* complaint);

}  // namespace emu
