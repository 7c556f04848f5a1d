// MessageBoxA: modal on the calling thread, which waits until the user of the
// current desktop closes the box. As on Windows, the box's modal loop
// dispatches the thread's messages, and a WM_QUIT ends it at once: the box
// vanishes before the user can read it and the quit is posted again for the
// caller's own loop.
#include <string>

#include "platform/emu/user32/desktop.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"

namespace emu {

bool PumpModalLoop() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the caller's own loop
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

}  // namespace emu

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (emu::InjectedFailure("MessageBoxA")) return 0;
    if (owner != nullptr && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const std::string shown = text == nullptr ? "" : text;
    const std::string title = caption == nullptr ? "Error" : caption;  // as Windows captions it
    if (!emu::PumpModalLoop()) {
        emu::CurrentDesktop()->MessageBoxEndedByQuit(shown, title, type);
        return IDOK;  // what Wine answers for the box that was never read
    }
    return emu::CurrentDesktop()->MessageBox(shown, title, type);
}
