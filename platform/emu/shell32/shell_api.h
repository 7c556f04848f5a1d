// Shell32 folder lookup, declared for the Linux build.
#pragma once

#include "platform/emu/win_types.h"

HRESULT WINAPI SHGetFolderPathA(HWND owner, int folder, HANDLE token, DWORD flags, LPSTR path);
