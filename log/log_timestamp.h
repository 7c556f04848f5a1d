// The timestamp that starts every record.
#pragma once

#include <ctime>
#include <string>

// "YYYY-MM-DD hh:mm:ss " for the current time, local time, whole seconds.
std::string LogTimestamp();

// The same text for an already broken-down time.
std::string FormatTimestamp(const std::tm& local);
