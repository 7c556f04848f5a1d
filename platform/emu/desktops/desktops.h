// The desktops behind user32: GTK windows (desktops/gtk), the terminal
// (desktops/terminal) and the scripted user of tests (desktops/scripted).
// Each implements user32's desktop interface (user32/desktop.h) and may
// call user32 and kernel32 below it, never another desktop; only the
// chooser (desktops.cpp) knows them all.
#pragma once

#include <memory>
#include <string>

#include "platform/emu/user32/desktop.h"

namespace emu {

std::shared_ptr<Desktop> MakeScriptedDesktop();
std::shared_ptr<Desktop> MakeTerminalDesktop();
// Null when no display can be opened, or when the build has no GTK; then
// `whyNot` says which.
std::shared_ptr<Desktop> MakeGtkDesktop(std::string* whyNot = nullptr);

}  // namespace emu
