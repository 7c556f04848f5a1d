// The asynchronous writer: one worker thread owns the log file and standard
// output, so a reporting thread only formats and posts.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include <boost/asio/io_service.hpp>

#include "log/log_file.h"

class LogWriter {
  public:
    // Starts the worker and, for a non-empty `path`, queues the open job.
    explicit LogWriter(const std::string& path);
    // Writes the records still queued, ends the worker, then closes the file.
    ~LogWriter();

    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues: (re)open `path` for output, truncated (LogFile::Open). A
    // failure or refusal leaves the file closed and is not reported.
    void Open(const std::string& path);
    // Queues: `text` to standard output, then to the file, which holds no
    // buffer of its own: the text reaches the system before the next job.
    void Write(std::string text);

  private:
    void RunJobs();

    boost::asio::io_service service;
    std::unique_ptr<boost::asio::io_service::work> workGuard;
    std::thread worker;
    LogFile file;
};
