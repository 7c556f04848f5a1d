// Runs a program of the build as a separate process, so that process-wide
// state (the Logger, the cached log folder) starts fresh.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    int exitCode = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

enum class Output { Kept, ReaderGone };

// `environment` entries ("NAME=value") are added to the test's own. With
// Output::ReaderGone standard output is a pipe whose reader has gone before
// the program starts (`| head -n 0`), and SIGPIPE has its default action.
// The program runs in a session of its own, without a controlling terminal,
// and with standard input /dev/null.
ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, Output output = Output::Kept);
