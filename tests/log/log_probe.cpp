// A whole run of a program that reports: it issues records through the
// process-wide Logger and exits. Tests start it to see what a run leaves in
// the log file, in every kind of build.
//
//   log_probe [records N] [threads T] [message TEXT] [stdout closed]
//
// A record whose Logger cannot be created is lost; the probe says so on
// standard error and goes on with the next one.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "log/exception.h"
#include "log/logger.h"

namespace {

const char kContext[] = "int __cdecl main(int,char **)";

void Report(const std::string& message, int records) {
    for (int i = 0; i < records; ++i) {
        try {
            Logger::Instance().Error() << kContext << " - " << message + " " + std::to_string(i);
        } catch (const QUILL::Exception& lost) {
            std::cerr << "lost: " << lost.what() << std::endl;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int records = 1, threads = 1;
    std::string message = "probe record";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "records") records = std::atoi(value.c_str());
        if (name == "threads") threads = std::atoi(value.c_str());
        if (name == "message") message = value;
        // As a windowed program started without one: nothing behind it.
        if (name == "stdout" && value == "closed") std::fclose(stdout);
    }
    std::vector<std::thread> reporters;
    for (int t = 1; t < threads; ++t) reporters.emplace_back(Report, message, records);
    Report(message, records);
    for (std::thread& reporter : reporters) reporter.join();
    return 0;
}
