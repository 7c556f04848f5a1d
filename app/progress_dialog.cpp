#include "app/transfer.h"
#include "resources/resource.h"

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
