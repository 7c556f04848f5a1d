// Runs the whole program in-process, as Windows starts it: wWinMain with the
// program's module and `commandLine`. A run that outlives `limit` ends the
// test process, saying that `what` did not end (tests/support/deadline.h).
#pragma once

#include <chrono>
#include <string>

#include "platform/win32.h"
#include "tests/support/deadline.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);

inline int RunProgram(std::wstring commandLine, const std::string& what,
                      std::chrono::seconds limit) {
    const Deadline deadline(what, limit);
    return wWinMain(GetModuleHandleW(nullptr), nullptr, &commandLine[0], SW_SHOWNORMAL);
}
