// The system's text for the calling thread's last-error code.
#pragma once

#include <string>

#include "platform/win32.h"

// The system's own text, with the CR LF the system puts at its end; empty for
// code 0 (the system is not asked) or when the system has no text.
std::string LastErrorText();
// The same for any error code.
std::string ErrorText(DWORD code);
