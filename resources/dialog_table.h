// The program's dialog templates, described once.
//
// resources/bladepost.rc expands these macros into the resource script that
// windres compiles into the Windows builds; platform/emu expands the same
// macros into the templates of the Linux emulation. Coordinates are dialog
// units. The includer supplies the style constants (windows.h, or the
// emulation's declarations); this file only combines them.
//
// CONTROLS(C) calls C(text, id, class, style, x, y, cx, cy) once per control,
// in creation (and tab) order. Control styles here exclude WS_CHILD and
// WS_VISIBLE, which every template control gets.
#pragma once

#include "resource.h"

#define BLADEPOST_DIALOG_FONT_SIZE 8
#define BLADEPOST_DIALOG_FONT_FACE "MS Shell Dlg"

// Template 101: the file-open dialog's extension, the list of cutters.
#define IDD_OUTPUT_SELECT_RECT 0, 0, 277, 32
#define IDD_OUTPUT_SELECT_STYLE (WS_CHILD | DS_SETFONT | DS_FIXEDSYS)
#define IDD_OUTPUT_SELECT_EXSTYLE WS_EX_TRANSPARENT
#define IDD_OUTPUT_SELECT_CONTROLS(C)                                                         \
    C("", IDC_OUTPUT, "COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 54, 7, 155, 90) \
    C("&Output:", -1, "STATIC", SS_LEFT | WS_GROUP, 7, 10, 26, 8)                             \
    C("Refresh", IDC_REFRESH, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 221, 7, 50, 14)

// Template 102: the progress dialog of a transfer. No WS_SYSMENU (no close
// box) and no WS_VISIBLE: it is shown once created. Its sentence spans the
// dialog between 7-unit margins, centred: at its old width the dialog font
// cut off its last word.
#define IDD_PROGRESS_RECT 0, 0, 311, 102
#define IDD_PROGRESS_STYLE \
    (WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS)
#define IDD_PROGRESS_EXSTYLE 0
#define IDD_PROGRESS_CAPTION "Send to Cutter Utility"
#define IDD_PROGRESS_CONTROLS(C)                                                                \
    C("Cancel", IDCANCEL, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 129, 81, 50, 14)                \
    C("The file is being sent to the cutter", -1, "STATIC", SS_CENTER | WS_GROUP, 7, 8, 297, 8) \
    C("", IDC_PROGRESS, "msctls_progress32", WS_BORDER, 115, 42, 80, 14)
