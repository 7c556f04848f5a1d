// The file-open dialog, extended with the cutter list and "Refresh".
#pragma once

#include <string>

#include "platform/win32.h"

// The hook of the file-open dialog; `dialog` is the child dialog made from
// template 101.
UINT_PTR CALLBACK OpenDialogHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves FileDialogWindow to the centre of its parent, or of the desktop.
void CenterDialog();

// Outcome of one showing of the file-open dialog.
struct FileDialogResult {
    BOOL chosen;  // what GetOpenFileNameW returned
    // Set when listing the cutters failed inside the dialog (the text of
    // what was thrown); the dialog was then closed without a file.
    std::string enumerationFailure;
};

// Shows the dialog once with the given record.
FileDialogResult ShowFileDialog(OPENFILENAMEW& record);

// The record the dialog is shown with: `fileName` (MAX_PATH characters) is
// both the initial name and where the chosen path goes.
OPENFILENAMEW MakeFileDialogRecord(HINSTANCE instance, WCHAR* fileName);
