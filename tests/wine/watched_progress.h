// The probe's side of progress_watch.dll, shared by dialog_probe and
// scenario_runner: hooked into the program's user-interface thread, the
// DLL records every position the program gives its progress bar (the last
// one included), what the progress dialog showed, and each message box,
// even when a window came and went between two looks.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/wine/progress_watch.h"

class ProgressWatch {
  public:
    // The record shared with the DLL, emptied.
    ProgressWatch();
    ~ProgressWatch();
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    // Hooks thread `thread` of the program; empty on success, else why not.
    std::string Hook(DWORD thread);

    std::vector<LONG> Positions() const;
    // The highest position the bar took; -1 if none.
    long Highest() const;

    bool Shown() const { return record != nullptr && record->shown != 0; }
    HWND Dialog() const;
    std::string Title() const;
    std::string Text() const;

    struct Box {
        HWND window;
        std::string text;
        std::string caption;
    };
    // The message boxes the program's thread made, in order.
    std::vector<Box> Boxes() const;

  private:
    HANDLE mapping = nullptr;
    ProgressRecord* record = nullptr;
    HMODULE module = nullptr;
    HHOOK hook = nullptr;
};
