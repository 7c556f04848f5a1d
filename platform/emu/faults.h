// Failure injection for the emulated Windows functions.
// (kernel32/faults.cpp keeps the counts: an injected failure is a last error.)
//
// Every emulated function counts its calls here and asks whether this call is
// to fail. Tests arm failures through the control half; a process started by a
// test can be armed through the environment variable EMU_FAULTS, a comma
// separated list of "Function:nth:error" or "Function:nth:error:times".
#pragma once

#include <string>

#include "platform/emu/win_types.h"

namespace emu {

// Control half. Makes calls nth .. nth+times-1 of `function`, counted from
// now (1 is the next call), fail with last-error code `error`.
void FailCall(const std::string& function, unsigned long nth, DWORD error, unsigned long times = 1);
// Disarms every failure and restarts every call count.
void ClearFaults();
// Calls of `function` since the last ClearFaults (or the start).
unsigned long CallCount(const std::string& function);
// Calls `observer` with the function's name at the start of every emulated
// call, on the calling thread, before the call allocates anything (a test
// may end a simulated memory shortage there); null stops it.
void ObserveCalls(void (*observer)(const char* function));

// Emulation half. Counts one call of `function`; true when this call must
// fail, in which case the thread's last-error code is already set.
bool InjectedFailure(const char* function);

}  // namespace emu
