// The emulated dialogs as the GTK windows get them: plain data, made on the
// dialog's own thread.
#pragma once

#include "platform/emu/user32/desktop.h"
#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {

// The visible controls of `view` that GTK can show.
ShownDialog Shown(const DialogView& view);
// The file-open dialog `top`: its title, and the application's child in
// place of its own controls, which the GTK file chooser has of its own.
ShownDialog ShownFileDialog(HWND top);
// Whether the lists of `a` and `b` hold the same entries and selections.
bool SameLists(const ShownDialog& a, const ShownDialog& b);
ChooserSetup ChooserOf(const FileDialogSetup& setup, HWND top);

BoxIcon IconOf(UINT type);
BoxButtons ButtonsOf(UINT type);
int IdOf(BoxAnswer answer);

}  // namespace emu
