#include "tests/support/log_watch.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "log/log_location.h"
#include "log/logger.h"
#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"

namespace {

const std::string& WatchedFile() {
    // Made before the process's Logger, so removed only after it is gone.
    static TempFolder appData;
    static const std::string path = [] {
        emu::SetCommonAppDataFolder(appData.Path());
        const std::string folder = appData / (std::string(kVendorFolderName) + "/log");
        MakeFolders(folder);
        return folder + "/" + kLogFileName;
    }();
    return path;
}

}  // namespace

LogWatch::LogWatch() {
    WatchedFile();
    std::string content;
    start = Barrier(&content).second;
}

std::string LogWatch::LogFilePath() {
    return WatchedFile();
}

std::string LogWatch::NewRecords() {
    std::string content;
    const auto marker = Barrier(&content);
    const std::string records = content.substr(start, marker.first - start);
    start = marker.second;
    return records;
}

std::pair<std::size_t, std::size_t> LogWatch::Barrier(std::string* content) {
    static std::atomic<int> markers{0};
    const std::string marker = "log watch marker " + std::to_string(++markers) + "\r\n";
    Logger::Instance().Warning() << "LogWatch"
                                 << " - " << marker.substr(0, marker.size() - 2);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        *content = ReadWholeFile(WatchedFile());
        const std::size_t at = content->find(marker);
        if (at != std::string::npos) {
            const std::size_t lineStart = content->rfind('\n', at);
            return {lineStart == std::string::npos ? 0 : lineStart + 1, at + marker.size()};
        }
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the log writer did not write " + marker);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
