// The process-wide diagnostic log.
#pragma once

#include <string>

#include "log/log_level.h"
#include "log/log_record.h"
#include "log/log_writer.h"

class Logger {
  public:
    // Opens (truncating) `fileName` in the log folder below the machine-wide
    // application-data folder. Throws QUILL::Exception when that folder
    // cannot be found.
    explicit Logger(const std::string& fileName);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // The process's Logger, created by the first call (the first record of a
    // run) and destroyed at exit. A failed creation is tried again by the
    // next call.
    static Logger& Instance();

    LogRecord Error();
    LogRecord Warning();

  private:
    friend class LogRecord;

    LogRecord Start(LogLevel level);

    LogWriter writer;
};
