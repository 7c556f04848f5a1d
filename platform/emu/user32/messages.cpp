// Sending, posting and taking messages: SendMessageW, PostMessageW,
// PostThreadMessageW, GetMessageW and the message loop's helpers.
#include "platform/emu/user32/desktop.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/message_queue.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (emu::InjectedFailure("SendMessageW")) return 0;
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (data.thread == GetCurrentThreadId())
        return emu::CallWindow(window, message, wParam, lParam);
    // Carried over to the window's thread, whose message loop calls the
    // procedure; the sender waits, as on Windows, however long that takes.
    auto sent = std::make_shared<emu::SentMessage>();
    sent->msg.hwnd = window;
    sent->msg.message = message;
    sent->msg.wParam = wParam;
    sent->msg.lParam = lParam;
    std::shared_ptr<emu::MessageQueue> queue = emu::QueueOfThread(data.thread);
    if (queue == nullptr || !queue->Send(sent)) return 0;  // the thread has ended
    return sent->result;
}

LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam,
                                   LPARAM lParam) {
    if (emu::InjectedFailure("SendDlgItemMessageW")) return 0;
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) return 0;
    return SendMessageW(control, message, wParam, lParam);
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (emu::InjectedFailure("PostMessageW")) return FALSE;
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    if (window == nullptr) {  // a message for the calling thread itself
        emu::CurrentQueue().Post(msg);
        return TRUE;
    }
    emu::WindowData data;
    std::shared_ptr<emu::MessageQueue> queue;
    if (emu::ReadWindow(window, &data)) queue = emu::QueueOfThread(data.thread);
    if (queue == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    queue->Post(msg);
    return TRUE;
}

BOOL WINAPI PostThreadMessageW(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam) {
    const std::shared_ptr<emu::MessageQueue> queue = emu::QueueOfThread(thread);
    if (queue == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    MSG msg{};
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    queue->Post(msg);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    emu::CurrentQueue().PostQuit(exitCode);
}

BOOL WINAPI GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    if (emu::InjectedFailure("GetMessageW")) return -1;
    if (msg == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    if (window != nullptr && !emu::WindowExists(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    emu::CurrentQueue().Take(msg, window, filterMin, filterMax,
                             [] { emu::CurrentDesktop()->Idle(); });
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    if (msg == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    return emu::CurrentQueue().TryTake(msg, window, filterMin, filterMax, (remove & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    // Typed characters reach the emulation as WM_CHAR already, so there is
    // nothing to translate; Windows reports key messages as translated.
    if (msg == nullptr) return FALSE;
    return msg->message == WM_KEYDOWN || msg->message == WM_KEYUP ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* msg) {
    if (emu::InjectedFailure("DispatchMessageW")) return 0;
    if (msg == nullptr || msg->hwnd == nullptr) return 0;  // thread messages go nowhere
    emu::WindowData data;
    if (!emu::ReadWindow(msg->hwnd, &data)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (data.thread != GetCurrentThreadId()) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return 0;
    }
    return emu::CallWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
