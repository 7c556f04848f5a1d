#include "app/message_box.h"

#include "platform/win32.h"

const char kUnknownFailure[] = "An unexpected error occurred";

void ShowWarning(const std::string& text) {
    // A WM_QUIT waiting for this thread (destroying the progress dialog posts
    // one) would end the box's modal loop before the user could read it:
    // hold it back while the box is up, then post it again.
    MSG quit{};
    const bool quitting = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    MessageBoxA(nullptr, text.c_str(), "bladepost", MB_ICONWARNING);
    if (quitting) PostQuitMessage(static_cast<int>(quit.wParam));
}
