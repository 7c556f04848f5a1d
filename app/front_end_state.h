// The front end's process-wide state, shared by the file dialog and the
// cutter list.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Position of the chosen cutter in the order of the connected-cutter map;
// -1 when none is chosen.
extern std::int32_t SelectedCutterIndex;

// The top-level window of the file-open dialog, once its hook has seen
// WM_INITDIALOG.
extern HWND FileDialogWindow;
