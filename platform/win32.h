// The one header through which the rest of the code reaches Windows.
//
// On Windows it brings in the real Windows headers. On Linux it declares the
// same names and types, implemented in platform/emu over an emulation of the
// operations the system uses.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
// Before windows.h, which would otherwise bring in the old winsock.h that
// Boost.Asio cannot live with.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <dbt.h>
#include <setupapi.h>
#include <shlobj.h>
#include <usbiodef.h>
#include <winusb.h>

#else

#include "platform/emu/win_types.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/setupapi/setupapi_api.h"
#include "platform/emu/shell32/shell_api.h"
#include "platform/emu/user32/user_types.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/winusb/winusb_api.h"

#endif

#include "platform/portable.h"
