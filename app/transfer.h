// Sending one job file to one cutter, with a progress dialog and Cancel.
#pragma once

#include <memory>

#include "platform/win32.h"
#include "usb/usb_device.h"

// The progress dialog's private message: wParam is the new position.
constexpr UINT WM_SETPROGRESS = WM_USER + 1;

// Sends the file at `path` byte for byte in 1024-byte chunks. True when the
// whole file was read and written; false on any failure (already shown to
// the user) and on Cancel. Returns after the worker thread has ended, the
// cutter is closed and the progress dialog is gone.
bool TransferFile(const WCHAR* path, std::shared_ptr<QUILL::UsbDevice> device);

// The dialog procedure of the progress dialog (template 102).
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
