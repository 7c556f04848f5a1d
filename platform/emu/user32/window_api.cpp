// Window lifetime, visibility, geometry and text: IsWindow, DestroyWindow,
// ShowWindow, SetWindowPos and their kin.
#include <algorithm>
#include <cwchar>

#include "platform/emu/user32/desktop.h"
#include "platform/emu/faults.h"
#include "platform/emu/user32/interrupts.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/user32/window_table.h"

namespace {

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

bool IsTopLevel(const emu::WindowData& data) {
    return (data.style & WS_CHILD) == 0;
}

// Hides a visible top-level window before it goes, as Windows does, so that
// the desktop sees it leave the screen.
void HideForDestruction(const emu::WindowData& data) {
    if (!IsTopLevel(data) || (data.style & WS_VISIBLE) == 0) return;
    emu::UpdateWindow(data.handle, [](emu::WindowData& w) { w.style &= ~WS_VISIBLE; });
    emu::CancellableGone(data.handle);
    emu::CurrentDesktop()->WindowHidden(data.handle);
}

void Destroy(HWND window) {
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data) || data.destroying) return;
    emu::UpdateWindow(window, [](emu::WindowData& w) { w.destroying = true; });
    HideForDestruction(data);
    emu::CallWindow(window, WM_DESTROY, 0, 0);
    emu::ReadWindow(window, &data);  // children made or gone meanwhile
    for (HWND child : data.children) Destroy(child);
    emu::CallWindow(window, WM_NCDESTROY, 0, 0);
    emu::RemoveWindow(window);
}

void MoveBy(HWND window, LONG dx, LONG dy) {
    emu::UpdateWindow(window, [&](emu::WindowData& w) {
        w.rect.left += dx;
        w.rect.right += dx;
        w.rect.top += dy;
        w.rect.bottom += dy;
    });
}

}  // namespace

namespace emu {

LRESULT DefaultHandling(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT: {
            const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
            std::wstring value = text == nullptr ? L"" : text;
            return UpdateWindow(window, [&](WindowData& w) { w.text = value; }) ? TRUE : FALSE;
        }
        case WM_GETTEXTLENGTH:
        case WM_GETTEXT: {
            WindowData data;
            if (!ReadWindow(window, &data)) return 0;
            if (message == WM_GETTEXTLENGTH) return static_cast<LRESULT>(data.text.size());
            auto* buffer = reinterpret_cast<wchar_t*>(lParam);
            if (buffer == nullptr || wParam == 0) return 0;
            std::size_t count = std::min<std::size_t>(data.text.size(), wParam - 1);
            std::wmemcpy(buffer, data.text.data(), count);
            buffer[count] = L'\0';
            return static_cast<LRESULT>(count);
        }
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MOVE || (wParam & 0xFFF0) == SC_SIZE) {
                RunMoveSizeLoop(window);
            }
            return 0;
        default:
            return 0;
    }
}

}  // namespace emu

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return emu::DefaultHandling(window, message, wParam, lParam);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
    if (emu::InjectedFailure("GetModuleHandleW")) return nullptr;
    if (moduleName != nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);  // no other module is loaded
        return nullptr;
    }
    // The program's own image, which holds the templates of resources/.
    return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x400000));
}

BOOL WINAPI IsWindow(HWND window) {
    if (emu::InjectedFailure("IsWindow")) return FALSE;
    return emu::WindowExists(window) ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (emu::InjectedFailure("DestroyWindow")) return FALSE;
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // Windows lets only the creating thread destroy a window.
    if (data.thread != GetCurrentThreadId()) return Fail(ERROR_ACCESS_DENIED);
    Destroy(window);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    if (emu::InjectedFailure("ShowWindow")) return FALSE;
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    const bool wasVisible = (data.style & WS_VISIBLE) != 0;
    const bool show = command != SW_HIDE;
    emu::UpdateWindow(window, [&](emu::WindowData& w) {
        w.style = show ? (w.style | WS_VISIBLE) : (w.style & ~WS_VISIBLE);
    });
    if (IsTopLevel(data) && show && !wasVisible && data.templateId != 0) {
        emu::CancellableShown(window);
        emu::CurrentDesktop()->DialogShown(window);
    }
    if (IsTopLevel(data) && !show && wasVisible) {
        emu::CancellableGone(window);
        emu::CurrentDesktop()->WindowHidden(window);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    for (HWND w = window; w != nullptr;) {
        emu::WindowData data;
        if (!emu::ReadWindow(w, &data) || (data.style & WS_VISIBLE) == 0) return FALSE;
        w = (data.style & WS_CHILD) != 0 ? data.parent : nullptr;
    }
    return window == nullptr ? FALSE : TRUE;
}

HWND WINAPI GetParent(HWND window) {
    if (emu::InjectedFailure("GetParent")) return nullptr;
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) {
        if (window != emu::DesktopWindow()) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    // The parent of a child window, the owner of a top-level one.
    return data.parent;
}

HWND WINAPI GetDesktopWindow() {
    return emu::DesktopWindow();
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    if (emu::InjectedFailure("GetWindowRect")) return FALSE;
    if (rect == nullptr) return Fail(ERROR_NOACCESS);
    if (window == emu::DesktopWindow()) {
        *rect = RECT{0, 0, emu::kScreenWidth, emu::kScreenHeight};
        return TRUE;
    }
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    *rect = data.rect;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
    if (emu::InjectedFailure("SetWindowPos")) return FALSE;
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if ((flags & SWP_NOSIZE) == 0) {
        emu::UpdateWindow(window, [&](emu::WindowData& w) {
            w.rect.right = w.rect.left + cx;
            w.rect.bottom = w.rect.top + cy;
        });
    }
    if ((flags & SWP_NOMOVE) == 0) {
        // A child's position is relative to its parent's top-left corner.
        LONG originX = 0, originY = 0;
        emu::WindowData parent;
        if (!IsTopLevel(data) && emu::ReadWindow(data.parent, &parent)) {
            originX = parent.rect.left;
            originY = parent.rect.top;
        }
        const LONG dx = originX + x - data.rect.left, dy = originY + y - data.rect.top;
        MoveBy(window, dx, dy);
        for (HWND below : emu::Descendants(window)) MoveBy(below, dx, dy);
    }
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    if (emu::InjectedFailure("GetDlgItem")) return nullptr;
    emu::WindowData data;
    if (!emu::ReadWindow(dialog, &data)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    for (HWND child : data.children) {
        emu::WindowData control;
        if (emu::ReadWindow(child, &control) && control.id == id) return child;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND window) {
    emu::WindowData data;
    if (!emu::ReadWindow(window, &data)) return static_cast<int>(Fail(ERROR_INVALID_WINDOW_HANDLE));
    return data.id;
}

BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text) {
    if (emu::InjectedFailure("SetWindowTextW")) return FALSE;
    if (!emu::WindowExists(window)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
    return static_cast<BOOL>(SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextW(HWND window, LPWSTR text, int capacity) {
    if (emu::InjectedFailure("GetWindowTextW")) return 0;
    if (!emu::WindowExists(window)) return static_cast<int>(Fail(ERROR_INVALID_WINDOW_HANDLE));
    if (text == nullptr || capacity <= 0) return 0;
    return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(capacity),
                                         reinterpret_cast<LPARAM>(text)));
}
