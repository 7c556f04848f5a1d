// The move/size loop that Windows runs when a person drags a window by its
// caption or frame, or picks Move or Size from its system menu. It is modal
// on the window's thread: the thread's own message loop does not run until
// the person lets go, and everything posted meanwhile (a transfer's
// progress, say) is dispatched here instead.
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

// Enter, Escape or a released mouse button end the move, as on Windows.
bool EndsMove(const MSG& msg) {
    if (msg.message == WM_LBUTTONUP || msg.message == WM_RBUTTONUP) return true;
    return msg.message == WM_KEYDOWN && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE);
}

// Keys and the mouse move the frame; the loop takes them for itself.
bool MovesFrame(const MSG& msg) {
    return msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_MOUSEMOVE;
}

}  // namespace

void RunMoveSizeLoop(HWND window) {
    SendMessageW(window, WM_ENTERSIZEMOVE, 0, 0);
    for (;;) {
        MSG msg;
        const BOOL result = GetMessageW(&msg, nullptr, 0, 0);
        if (result == -1) break;
        if (result == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that called it
            break;
        }
        if (EndsMove(msg)) break;
        if (MovesFrame(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        if (!IsWindow(window)) return;
    }
    if (IsWindow(window)) SendMessageW(window, WM_EXITSIZEMOVE, 0, 0);
}

}  // namespace emu
