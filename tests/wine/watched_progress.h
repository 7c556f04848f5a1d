// The probe's side of progress_watch.dll, shared by dialog_probe and
// scenario_runner: hooked into the program's user-interface thread, the
// DLL records every position the program gives its progress bar (the last
// one included), what the progress dialog showed, and each message box,
// even when a window came and went between two looks. It can hold that
// thread at chosen positions, for the runner to act at that very moment.
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
    // Hooks every thread of the session for `process`, which is created
    // suspended and not yet resumed: from its first message on, however
    // fast it runs. (A thread hook can only come once the thread has a
    // message queue, which under Wine it has not while suspended.)
    std::string HookProcess(DWORD process);

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
    // Holds the program's thread at these bar positions, in order, each
    // until Release(); set before the program starts.
    void HoldAt(const std::vector<long>& positions);
    // How many of them the program has reached (and is held at the last).
    long Held() const { return record != nullptr ? record->held : 0; }
    // Lets the program go on from every hold it has reached.
    void Release();

    // The message boxes the program's thread made, in order.
    std::vector<Box> Boxes() const;

  private:
    HANDLE mapping = nullptr;
    ProgressRecord* record = nullptr;
    HMODULE module = nullptr;
    HHOOK hook = nullptr;
};
