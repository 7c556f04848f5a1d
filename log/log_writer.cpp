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
    file.close();  // after the join: no job can touch the stream any more
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
        if (file.is_open()) file.close();
        file.clear();
        // Text mode: the runtime turns each LF into CR LF on Windows; the
        // Linux build does the same in Write, so the files are identical.
        file.open(path, std::ios::out | std::ios::trunc);
    });
}

void LogWriter::Write(std::string text) {
    service.post([this, text = std::move(text)] {
        const std::string bytes = platform::TextModeBytes(text);
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.flush();
    });
}
