#include "log/format_text.h"

#include <cstdarg>
#include <cstdio>

// The C99 formatter reports how long the whole text would be; the old
// runtime's one returns -1 on truncation, which would turn every long
// message into an empty one.
#if defined(__MINGW32__) && !__USE_MINGW_ANSI_STDIO
#error "FormatText needs the C99 vsnprintf of mingw-w64"
#endif

std::string FormatText(const char* format, ...) {
    constexpr int kBufferSize = 200;
    if (format == nullptr) return std::string();
    char buffer[kBufferSize] = {};
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length < 0) return std::string();
    return std::string(buffer, length < kBufferSize ? static_cast<std::size_t>(length)
                                                    : static_cast<std::size_t>(kBufferSize - 1));
}
