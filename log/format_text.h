// printf-style formatting into a short message text.
#pragma once

#include <string>

#if defined(__MINGW32__)
#define BLADEPOST_PRINTF(format_index, first_arg) \
    __attribute__((format(gnu_printf, format_index, first_arg)))
#else
#define BLADEPOST_PRINTF(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#endif

// Formats through a 200-byte buffer, so the result holds at most 199
// characters. Text that does not fit is cut after its first 199 characters;
// when the formatter itself fails the result is empty. Never writes or reads
// outside the buffer, whatever the arguments.
std::string FormatText(const char* format, ...) BLADEPOST_PRINTF(1, 2);
