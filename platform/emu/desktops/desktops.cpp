// Which desktop a process starts with.
#include "platform/emu/desktops/desktops.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace emu {

// EMU_DESKTOP=scripted|gtk|terminal forces one; by default people get GTK
// when a display can be opened, else the terminal.
std::shared_ptr<Desktop> ChooseDesktop() {
    const char* choice = std::getenv("EMU_DESKTOP");
    const std::string named = choice != nullptr ? choice : "";
    if (named == "scripted") return MakeScriptedDesktop();
    if (named != "terminal") {
        if (auto gtk = MakeGtkDesktop()) return gtk;
        if (named == "gtk") std::fputs("EMU_DESKTOP=gtk: no display could be opened\n", stderr);
    }
    return MakeTerminalDesktop();
}

void UseTerminalDesktop() {
    InstallDesktop(MakeTerminalDesktop());
}

}  // namespace emu
