#include "platform/portable.h"

namespace platform {

std::string WithCarriageReturns(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

std::string TextModeBytes(std::string text) {
#ifdef _WIN32
    return text;
#else
    return WithCarriageReturns(text);
#endif
}

bool LocalTime(std::time_t time, std::tm* local) {
#ifdef _WIN32
    return localtime_s(local, &time) == 0;
#else
    return localtime_r(&time, local) != nullptr;
#endif
}

}  // namespace platform
