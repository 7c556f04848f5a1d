#include "app/message_box.h"

#include "platform/win32.h"

void ShowWarning(const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), "bladepost", MB_ICONWARNING);
}
