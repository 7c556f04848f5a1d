// Which desktop a process starts with.
#include "platform/emu/desktops/desktops.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace emu {
namespace {

bool HasTerminal() {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty >= 0) ::close(tty);
    return tty >= 0 || isatty(STDIN_FILENO) != 0;
}

// The display the person's session names, "" when it names none.
std::string NamedDisplay() {
    for (const char* variable : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return std::string(variable) + "=" + value;
    }
    return "";
}

}  // namespace

// EMU_DESKTOP=scripted|gtk|terminal forces one; by default people get GTK
// when a display can be opened, else the terminal. Started from a launcher,
// with a display named but not usable and no terminal, nothing would appear
// anywhere: standard error at least says why.
std::shared_ptr<Desktop> ChooseDesktop() {
    const char* choice = std::getenv("EMU_DESKTOP");
    const std::string named = choice != nullptr ? choice : "";
    if (named == "scripted") return MakeScriptedDesktop();
    if (named != "terminal") {
        std::string whyNot;
        if (auto gtk = MakeGtkDesktop(&whyNot)) return gtk;
        // GTK's text ends with the display it was given on a command line.
        while (!whyNot.empty() && (whyNot.back() == ' ' || whyNot.back() == ':')) whyNot.pop_back();
        const std::string display = NamedDisplay();
        if (named == "gtk") {
            std::fprintf(stderr, "EMU_DESKTOP=gtk: no display could be opened (%s)\n",
                         whyNot.c_str());
        } else if (!display.empty() && !HasTerminal()) {
            std::fprintf(stderr, "bladepost: no desktop to show: %s cannot be opened (%s)\n",
                         display.c_str(), whyNot.c_str());
        }
    }
    return MakeTerminalDesktop();
}

void UseTerminalDesktop() {
    InstallDesktop(MakeTerminalDesktop());
}

}  // namespace emu
