// What a runner saw while it played a scenario, and the one comparison of
// that with what the scenario expects, shared by both runners.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/scenario_runner/scenario.h"

namespace scenario {

struct MessageBoxSeen {
    std::string text;
    std::string caption;
};

struct Observed {
    // The value seen at each Expect step, by step index. List entries are
    // joined as "\"a\" \"b\"", as the scenario writes them.
    std::map<std::size_t, std::string> seen;
    // Every message box, in the order shown.
    std::vector<MessageBoxSeen> boxes;
    int exitCode = -1;
    // Every byte each cutter received, by cutter number.
    std::map<int, std::string> received;
    // The log file's content as written (CR LF line ends).
    std::string logText;
    // What the runner could not do (a window that never came, a deadline).
    std::vector<std::string> problems;
};

// A log record as the file holds it, its message's line ends restored.
struct LogLine {
    std::string level;
    std::string context;
    std::string message;
};

// Splits a log file into records. Records start with a timestamp and a
// level tag at the start of a line; a message may hold line ends.
std::vector<LogLine> ParseLog(const std::string& text);

// Every difference between `observed` and `expected`, one line each, naming
// the scenario line; empty when the scenario passed. `jobFolder` is where
// the runner put the job files (expected file names are expanded with it).
std::vector<std::string> Check(const Scenario& expected, const Observed& observed,
                               const std::string& jobFolder, bool underWine);

}  // namespace scenario
