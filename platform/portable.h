// The few C runtime differences between the two kinds of build.
#pragma once

#include <ctime>
#include <string>

namespace platform {

// The bytes a text-mode stream of the Windows C runtime writes for `text`:
// every line feed becomes carriage return plus line feed.
std::string WithCarriageReturns(const std::string& text);

// The bytes to hand a text-mode standard stream for `text`. The Windows
// build leaves the line ends to its own text-mode streams and returns `text`
// unchanged; the Linux build returns WithCarriageReturns(text).
std::string TextModeBytes(std::string text);

// Thread-safe local-time breakdown of `time`.
bool LocalTime(std::time_t time, std::tm* local);

}  // namespace platform
