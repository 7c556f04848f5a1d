// The few C runtime differences between the two kinds of build.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// The bytes a text-mode stream of the Windows C runtime would write for
// `text`: every line feed becomes carriage return plus line feed. The Windows
// build leaves that to its own text-mode streams and returns `text` unchanged.
std::string TextModeBytes(std::string text);

// Thread-safe local-time breakdown of `time`.
bool LocalTime(std::time_t time, std::tm* local);

}  // namespace platform
