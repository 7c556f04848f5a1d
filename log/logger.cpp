#include "log/logger.h"

#include "log/format_text.h"
#include "log/log_location.h"
#include "log/log_timestamp.h"

#ifndef _WIN32
#include <mutex>

#include "platform/emu/user32/interrupts.h"

namespace {

// Signals are heard on a thread of their own, and may come while the
// process exits: a record from there is written only while the Logger
// lives, and the Logger's end waits for one being written.
struct LoggerLife {
    std::mutex mutex;
    bool ended = false;
};

LoggerLife& Life() {
    static LoggerLife* const life = new LoggerLife;  // outlives static destruction
    return *life;
}

// Made just after the Logger, so gone just before it.
struct EndOfLogger {
    ~EndOfLogger() {
        std::lock_guard<std::mutex> lock(Life().mutex);
        Life().ended = true;
    }
};

// On Linux a signal or a lost display ends the program as Cancel does;
// unlike a Cancel it is not the user's own click, so the log says what
// happened.
void RecordEnd(const char* function, const std::string& text) {
    std::lock_guard<std::mutex> lock(Life().mutex);
    if (Life().ended) return;
    try {
        Logger::Instance().Warning() << function << text;
    } catch (...) {
        // The log cannot be created; the program still ends as Cancel.
    }
}

[[maybe_unused]] const bool kRecordsInterrupts = [] {
    emu::OnInterrupt([](int signal) {
        RecordEnd("void __cdecl OnInterrupt(int) - ",
                  FormatText("Interrupted (signal %d): ended as Cancel", signal));
    });
    emu::OnDisplayLost([](const std::string& why) {
        RecordEnd("void __cdecl OnDisplayLost(const char *) - ",
                  FormatText("Display lost (%s): ended as Cancel", why.c_str()));
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
#ifndef _WIN32
    static const EndOfLogger end;
#endif
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
