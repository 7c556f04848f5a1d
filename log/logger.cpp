#include "log/logger.h"

#include "log/log_location.h"
#include "log/log_timestamp.h"

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
