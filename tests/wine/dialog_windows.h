// Finding bladepost's windows from another process and reading their
// controls: shared by dialog_probe and scenario_runner. Nothing here waits
// on its own; every call to the program's thread is bounded.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace dialog_windows {

extern const wchar_t kTitle[];            // the file-open and progress dialogs
extern const wchar_t kMessageBoxTitle[];  // the program's message boxes

// Long enough for a thread that is busy for a moment, short enough that a
// hung one fails the caller in seconds.
constexpr UINT kAnswerTimeoutMs = 5000;

std::string Narrow(const std::wstring& text);  // to UTF-8
std::wstring Widen(const std::string& text);   // from UTF-8

// Asks the window's thread and waits a bounded time for its answer;
// `answered` says whether it answered.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* answered = nullptr);

std::wstring Text(HWND window);
std::wstring ClassOf(HWND window);
std::vector<HWND> Descendants(HWND window);
HWND DescendantWithId(HWND window, int id);

// Visible top-level windows titled `title`; of process `process` only
// unless it is 0.
std::vector<HWND> TopWindowsTitled(const wchar_t* title, DWORD process = 0);

// The file-open dialog: the one titled kTitle that holds the cutter list.
HWND FindFileDialog(DWORD process = 0);
// The progress dialog: titled kTitle, with the progress bar.
HWND FindProgressDialog(DWORD process = 0);

std::vector<std::wstring> ComboEntries(HWND combo);
// Picks entry `index` as a click in the list does: the selection, then the
// notification to the list's parent.
void ChooseEntry(HWND combo, int index);

// The visible static texts of a dialog that say something.
std::vector<HWND> StaticTexts(HWND dialog);
std::vector<std::wstring> Labels(HWND dialog);

// The file dialog's file-name field: newer dialogs hold the name in the edit
// field of a combo box (cmb13), older ones in edt1. Null if there is none.
HWND FileNameField(HWND fileDialog);

}  // namespace dialog_windows
