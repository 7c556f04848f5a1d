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

// `environment` entries ("NAME=value") are added to the test's own.
ProcessResult RunProcess(const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment);
