// Reads back the records that the code under test writes to the process's
// log file. The first use points the emulated machine-wide data folder at a
// temporary folder that has the log folder in it.
#pragma once

#include <string>
#include <utility>

class LogWatch {
  public:
    // Watches the records issued from now on.
    LogWatch();

    // The records issued since construction or the last call, each ending
    // in CR LF. Waits until the writer has written them all: it issues a
    // marker record of its own and waits for that.
    std::string NewRecords();

    // Path of the process's log file.
    static std::string LogFilePath();

  private:
    // Issues a marker and waits for it; returns where its line starts and
    // ends in `content`.
    std::pair<std::size_t, std::size_t> Barrier(std::string* content);

    std::size_t start = 0;
};
