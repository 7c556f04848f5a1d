// What ends the program from outside as the user's Cancel would: SIGINT,
// SIGTERM and SIGHUP on Linux, and a lost display. For a signal, the dialog
// on screen (the progress dialog during a transfer, else the file dialog)
// gets Cancel, and the program cleans up as it does after a Cancel (the
// cutter given back to its driver). With no such dialog up, the next one to
// come up gets it; a second signal ends the program at once, by the signal.
#pragma once

#include <functional>
#include <string>

#include "platform/emu/user32/user_types.h"

namespace emu {

// Installs the handlers; the process calls it first, and the first dialog
// calls it again (once is enough).
void InstallInterrupts();

// A dialog that Cancel ends came up, or went.
void CancellableShown(HWND top);
void CancellableGone(HWND top);

// `observer` hears of each first signal, on the thread that turns it into a
// Cancel, before the Cancel is posted.
void OnInterrupt(std::function<void(int signal)> observer);

// A desktop whose display went away (its server ended, or stopped
// answering) closes its windows, which ends the program as Cancel; it says
// here first what happened, and `observer` hears it, as it hears of signals.
void ReportDisplayLost(const std::string& why);
void OnDisplayLost(std::function<void(const std::string& why)> observer);

// A desktop that put the terminal in a mode of its own says here what gives
// it back: `restore` runs, and must be async-signal-safe, before a signal
// ends the process.
void OnSignalExit(void (*restore)());

}  // namespace emu
