#include "log/logger.h"

#include "log/format_text.h"
#include "log/log_location.h"
#include "log/log_timestamp.h"

#ifndef _WIN32
#include "platform/emu/user32/interrupts.h"

namespace {

// On Linux a signal ends the program as Cancel does; unlike a Cancel it is
// not the user's own click, so the log says what happened.
[[maybe_unused]] const bool kRecordsInterrupts = [] {
    emu::OnInterrupt([](int signal) {
        try {
            Logger::Instance().Warning()
                << "void __cdecl OnInterrupt(int) - "
                << FormatText("Interrupted (signal %d): ended as Cancel", signal);
        } catch (...) {
            // The log cannot be created; the program still ends as Cancel.
        }
    });
    return true;
}();

}  // namespace
#endif

Logger::Logger(const std::string& fileName) : writer(LogFilePath(fileName)) {}

Logger& Logger::Instance() {
    // Created once even when two threads report first at the same moment;
    // if the constructor throws, the next call tries again.
    static Logger logger(kLogFileName);
    return logger;
}

LogRecord Logger::Error() {
    return Start(LogLevel::Error);
}

LogRecord Logger::Warning() {
    return Start(LogLevel::Warning);
}

LogRecord Logger::Start(LogLevel level) {
    return LogRecord(this, LogTimestamp() + LevelTag(level));
}
