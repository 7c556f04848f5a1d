// The window classes of the controls a dialog template can name.
#pragma once

#include <memory>
#include <string>

#include "platform/emu/user32/window_table.h"

namespace emu {

// A fresh control of class `className` (case-insensitive), or null when no
// such class is registered: the progress bar exists only after
// InitCommonControls.
std::shared_ptr<WindowKind> MakeControl(const std::wstring& className);

// Windows compares class names without regard to case.
bool SameClass(const std::wstring& a, const std::wstring& b);

}  // namespace emu
