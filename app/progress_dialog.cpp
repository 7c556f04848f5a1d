#include "app/transfer.h"

#include <type_traits>

#include "resources/resource.h"

// Windows calls it as a DLGPROC: on 32-bit Windows a wrong calling
// convention would unbalance the stack at every message.
static_assert(std::is_same<decltype(&ProgressDialogProc), DLGPROC>::value, "a DLGPROC");

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_DESTROY:
            // Ends the transfer's message loop: Cancel works through this.
            PostQuitMessage(0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDCANCEL) return FALSE;
            DestroyWindow(dialog);
            return TRUE;
        case WM_SETPROGRESS:
            SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, wParam, 0);
            return TRUE;
        default:
            return FALSE;
    }
}
