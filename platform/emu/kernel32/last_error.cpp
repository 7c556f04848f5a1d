#include "platform/emu/kernel32/kernel_api.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD WINAPI GetLastError() {
    return lastError;
}

void WINAPI SetLastError(DWORD errorCode) {
    lastError = errorCode;
}
