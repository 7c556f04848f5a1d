// What an open cutter connection consists of.
#pragma once

#include "platform/win32.h"

struct winusb_native_handle {
    HANDLE file_handle;  // opened with FILE_FLAG_OVERLAPPED
    WINUSB_INTERFACE_HANDLE winusb_handle;
    UCHAR bulk_in_pipe;  // stored, never written to
    UCHAR bulk_out_pipe;

    // The closed value.
    static winusb_native_handle closed() { return {INVALID_HANDLE_VALUE, nullptr, 0, 0}; }
};
