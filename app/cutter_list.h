// The "&Output:" list of connected cutters.
#pragma once

#include "platform/win32.h"

// Refreshes the connected-cutter map with one enumeration pass (emptying it
// first when `reset`), lists one entry per cutter in map order in `list`
// (when not null), and selects the first entry both in the list and in
// SelectedCutterIndex. Lets QUILL::Exception from the pass through.
void FillCutterList(HWND list, bool reset);
