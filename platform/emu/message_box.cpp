// MessageBoxA: modal on the calling thread, which waits until the user of the
// current desktop closes the box.
#include "platform/emu/desktop.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel_api.h"
#include "platform/emu/user_api.h"

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (emu::InjectedFailure("MessageBoxA")) return 0;
    if (owner != nullptr && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Windows captions an uncaptioned box "Error".
    return emu::CurrentDesktop()->MessageBox(text == nullptr ? "" : text,
                                             caption == nullptr ? "Error" : caption, type);
}
