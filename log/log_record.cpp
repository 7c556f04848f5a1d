#include "log/log_record.h"

#include <ostream>
#include <utility>

#include "log/logger.h"

LogRecord::LogRecord(Logger* ownerLogger, const std::string& start)
    : active(true), owner(ownerLogger) {
    text << start;
}

LogRecord::LogRecord(LogRecord&& other) noexcept
    : active(std::exchange(other.active, false)), owner(other.owner), text(std::move(other.text)) {}

LogRecord::~LogRecord() {
    if (!active) return;
    try {
        text << std::endl;
        owner->writer.Write(text.str());
    } catch (...) {
        // Out of memory while reporting: the record is lost, the caller goes on.
    }
}

LogRecord operator<<(LogRecord record, const char* value) {
    record.text << (value != nullptr ? value : "(null)");
    return record;
}

LogRecord operator<<(LogRecord record, const std::string& value) {
    record.text << value;
    return record;
}
