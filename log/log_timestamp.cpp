#include "log/log_timestamp.h"

#include "log/format_text.h"
#include "platform/portable.h"

std::string LogTimestamp() {
    std::tm local = {};
    platform::LocalTime(std::time(nullptr), &local);
    return FormatTimestamp(local);
}

std::string FormatTimestamp(const std::tm& local) {
    return FormatText("%04d-%02d-%02d %02d:%02d:%02d ", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}
