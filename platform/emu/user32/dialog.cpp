// Dialog windows: CreateDialogParamW, IsDialogMessageW, EndDialog.
#include "platform/emu/user32/dialog.h"

#include "platform/emu/user32/controls.h"
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/user_api.h"

namespace emu {
namespace {

// Window frame around the client area, in pixels: left, top, right, bottom.
RECT FrameOf(DWORD style) {
    if ((style & WS_CHILD) != 0) return RECT{0, 0, 0, 0};
    if ((style & WS_CAPTION) == WS_CAPTION) return RECT{3, 26, 3, 3};
    return RECT{3, 3, 3, 3};
}

RECT PlaceTopLevel(const DialogTemplate& dialog, HWND owner) {
    const RECT client = DialogUnitsToPixels(dialog.x, dialog.y, dialog.cx, dialog.cy);
    const RECT frame = FrameOf(dialog.style);
    const LONG width = frame.left + (client.right - client.left) + frame.right;
    const LONG height = frame.top + (client.bottom - client.top) + frame.bottom;
    POINT at{client.left, client.top};
    if ((dialog.style & DS_CENTER) != 0) {
        at = POINT{(kScreenWidth - width) / 2, (kScreenHeight - height) / 2};
    } else if (owner != nullptr) {
        POINT origin = ClientOrigin(owner);
        at = POINT{origin.x + client.left, origin.y + client.top};
    }
    return RECT{at.x, at.y, at.x + width, at.y + height};
}

RECT PlaceChild(const DialogTemplate& dialog, HWND parent, POINT origin) {
    const RECT client = DialogUnitsToPixels(0, 0, dialog.cx, dialog.cy);
    const POINT base = ClientOrigin(parent);
    return RECT{base.x + origin.x, base.y + origin.y, base.x + origin.x + client.right,
                base.y + origin.y + client.bottom};
}

}  // namespace

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
    // The base units of 8-point MS Shell Dlg: 6 pixels wide, 13 high; a
    // dialog unit is a quarter of the width and an eighth of the height.
    auto px = [](int units) { return static_cast<LONG>(units * 6 / 4); };
    auto py = [](int units) { return static_cast<LONG>(units * 13 / 8); };
    return RECT{px(x), py(y), px(x + cx), py(y + cy)};
}

POINT ClientOrigin(HWND window) {
    WindowData data;
    if (!ReadWindow(window, &data)) return POINT{0, 0};
    const RECT frame = FrameOf(data.style);
    return POINT{data.rect.left + frame.left, data.rect.top + frame.top};
}

LRESULT DialogKind::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const INT_PTR handled = procedure_ ? procedure_(window, message, wParam, lParam) : FALSE;
    if (message == WM_INITDIALOG || handled != FALSE) return handled;
    if (message == WM_CLOSE) {  // the default dialog handling: the Cancel command
        SendMessageW(window, WM_COMMAND, IDCANCEL,
                     reinterpret_cast<LPARAM>(GetDlgItem(window, IDCANCEL)));
        return 0;
    }
    return DefaultHandling(window, message, wParam, lParam);
}

bool CreateControls(HWND dialog, const ControlTemplate* controls, std::size_t count) {
    const POINT origin = ClientOrigin(dialog);
    for (std::size_t i = 0; i < count; ++i) {
        const ControlTemplate& control = controls[i];
        std::shared_ptr<WindowKind> kind = MakeControl(control.className);
        if (kind == nullptr) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return false;
        }
        RECT rect = DialogUnitsToPixels(control.x, control.y, control.cx, control.cy);
        NewWindow window;
        window.className = control.className;
        window.text = control.text;
        window.style = control.style | WS_CHILD | WS_VISIBLE;
        window.id = control.id;
        window.parent = dialog;
        window.rect = RECT{origin.x + rect.left, origin.y + rect.top, origin.x + rect.right,
                           origin.y + rect.bottom};
        InsertWindow(window, std::move(kind));
    }
    return true;
}

HWND CreateDialogFromTemplate(const DialogTemplate& dialog, HWND parent, POINT origin,
                              std::shared_ptr<DialogKind> kind, LPARAM initParam) {
    const bool child = (dialog.style & WS_CHILD) != 0;
    NewWindow window;
    window.className = L"#32770";
    window.text = dialog.caption;
    window.style = dialog.style & ~WS_VISIBLE;  // shown after WM_INITDIALOG
    window.exStyle = dialog.exStyle;
    window.parent = parent;
    window.templateId = dialog.id;
    window.rect = child ? PlaceChild(dialog, parent, origin) : PlaceTopLevel(dialog, parent);
    HWND handle = InsertWindow(window, std::move(kind));
    if (!CreateControls(handle, dialog.controls, dialog.controlCount)) {
        // As on Windows, the dialog procedure sees the half-made dialog go.
        DestroyWindow(handle);
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    HWND focus = dialog.controlCount > 0 ? FindDescendant(handle, dialog.controls[0].id) : nullptr;
    SendMessageW(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), initParam);
    if ((dialog.style & WS_VISIBLE) != 0 && IsWindow(handle)) ShowWindow(handle, SW_SHOW);
    return handle;
}

}  // namespace emu

HWND WINAPI CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam) {
    if (emu::InjectedFailure("CreateDialogParamW")) return nullptr;
    const emu::DialogTemplate* dialog = emu::FindDialogTemplate(instance, templateName);
    if (dialog == nullptr) return nullptr;
    if (owner != nullptr && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    emu::DialogProcedure procedure;
    if (dialogProc != nullptr) procedure = dialogProc;
    return emu::CreateDialogFromTemplate(*dialog, owner, POINT{0, 0},
                                         std::make_shared<emu::DialogKind>(procedure), initParam);
}

BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG msg) {
    if (emu::InjectedFailure("IsDialogMessageW")) return FALSE;
    if (msg == nullptr || !IsWindow(dialog) || !emu::IsSelfOrDescendant(dialog, msg->hwnd)) {
        return FALSE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        SendMessageW(dialog, WM_COMMAND, IDCANCEL,
                     reinterpret_cast<LPARAM>(emu::FindDescendant(dialog, IDCANCEL)));
        return TRUE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(emu::FindDescendant(dialog, IDOK)));
        return TRUE;
    }
    // Every other message for the dialog is processed here, as Windows does.
    TranslateMessage(msg);
    DispatchMessageW(msg);
    return TRUE;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    if (emu::InjectedFailure("EndDialog")) return FALSE;
    auto kind = std::dynamic_pointer_cast<emu::DialogKind>(emu::KindOf(dialog));
    if (kind == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Like Windows, it only marks the dialog: the loop that runs it ends it.
    kind->ended = true;
    kind->result = result;
    return TRUE;
}
