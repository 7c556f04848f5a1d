// One record under construction. A reporting statement chains temporaries
// with <<; exactly one of them is active, and that one hands the finished
// line to the writer when it is destroyed at the end of the statement.
#pragma once

#include <sstream>
#include <string>

class Logger;

class LogRecord {
  public:
    // Starts an active record whose text begins with `start`.
    LogRecord(Logger* owner, const std::string& start);
    LogRecord(LogRecord&& other) noexcept;
    ~LogRecord();

    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;
    LogRecord& operator=(LogRecord&&) = delete;

    friend LogRecord operator<<(LogRecord record, const char* value);
    friend LogRecord operator<<(LogRecord record, const std::string& value);

  private:
    bool active;
    Logger* owner;
    std::ostringstream text;
};
