// On Linux the program starts here and hands wWinMain its command line as
// wide text, the way the Windows runtime does: everything after the
// program's own name, the arguments joined by single blanks.
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <string>

#include "platform/emu/user32/interrupts.h"
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);

int main(int argc, char** argv) {
    // Windows has no SIGPIPE: a write to a pipe whose reader is gone fails
    // (ERROR_NO_DATA), and the program goes on.
    std::signal(SIGPIPE, SIG_IGN);
    // Before any cutter is opened: in shortcut mode it is open before the
    // first dialog comes up.
    emu::InstallInterrupts();
    std::setlocale(LC_CTYPE, "");
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    std::wstring commandLine(joined.size() + 1, L'\0');
    const std::size_t length = std::mbstowcs(&commandLine[0], joined.c_str(), commandLine.size());
    commandLine.resize(length == static_cast<std::size_t>(-1) ? 0 : length);
    return wWinMain(GetModuleHandleW(nullptr), nullptr, &commandLine[0], SW_SHOWNORMAL);
}
