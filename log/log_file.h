// The shared log file. Every user of the machine writes the same file, in a
// folder they all may write, so another user may have planted something at
// its name: it is opened only as a plain file of its own, never through a
// link, and emptied only once that is known.
#pragma once

#include <string>

#include "platform/unique_handle.h"

class LogFile {
  public:
    // Opens `path`, creating the file if it is absent, and empties it. A
    // link, a file with a second name, a folder, pipe or device is refused
    // untouched. A refused or failed open leaves the file closed; nothing is
    // reported.
    void Open(const std::string& path);
    void Close() { handle.reset(); }
    // Writes `text` as a text-mode stream would: each line feed as carriage
    // return plus line feed. A failed write closes the file, so the rest of
    // the run writes nothing to it.
    void Write(const std::string& text);

  private:
    platform::UniqueHandle handle;
};
