#include "log/log_writer.h"

#include <iostream>
#include <utility>

#include "platform/portable.h"

LogWriter::LogWriter(const std::string& path)
    : workGuard(new boost::asio::io_service::work(service)), worker([this] { RunJobs(); }) {
    if (!path.empty()) Open(path);
}

LogWriter::~LogWriter() {
    workGuard.reset();  // run() returns once the queued jobs are done
    if (worker.joinable()) worker.join();
    file.Close();  // after the join: no job can touch the stream any more
}

void LogWriter::RunJobs() {
    for (;;) {
        try {
            service.run();
            return;
        } catch (...) {
            // A job that fails (out of memory) loses its own record only.
        }
    }
}

void LogWriter::Open(const std::string& path) {
    service.post([this, path] {
        file.Close();
        file.Open(path);
    });
}

void LogWriter::Write(std::string text) {
    service.post([this, text = std::move(text)] {
        const std::string bytes = platform::TextModeBytes(text);
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.Write(text);
    });
}
