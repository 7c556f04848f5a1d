// User32, comctl32 and comdlg32 operations, declared for the Linux build and
// implemented over the emulated desktop in platform/emu.
#pragma once

#include "platform/emu/user32/user_types.h"

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName);

// Windows.
BOOL WINAPI IsWindow(HWND window);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI IsWindowVisible(HWND window);
HWND WINAPI GetParent(HWND window);
HWND WINAPI GetDesktopWindow();
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
HWND WINAPI GetDlgItem(HWND dialog, int id);
int WINAPI GetDlgCtrlID(HWND window);
BOOL WINAPI SetWindowTextW(HWND window, LPCWSTR text);
int WINAPI GetWindowTextW(HWND window, LPWSTR text, int capacity);

// Messages.
LRESULT WINAPI SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PostThreadMessageW(DWORD thread, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL WINAPI PeekMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageW(const MSG* msg);
void WINAPI PostQuitMessage(int exitCode);
LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Dialogs.
HWND WINAPI CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam);
BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG msg);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

// Common controls and dialogs.
void WINAPI InitCommonControls();
BOOL WINAPI GetOpenFileNameW(LPOPENFILENAMEW record);
DWORD WINAPI CommDlgExtendedError();
