// The test variant of the Windows program: its SetupAPI and WinUSB calls,
// and CreateFileW (for device interface paths), go to virtual cutters instead
// of the real functions. platform/win32.h includes this header, after the
// real Windows headers, only when BLADEPOST_VIRTUAL_CUTTERS is defined, which
// the library platform_windows_virtual gives the code compiled against it.
// The product never is.
//
// Everything else stays real: a virtual cutter is the server end of a named
// pipe, CreateFileW opens the client end with the caller's flags, and
// WinUsb_WritePipe is an overlapped WriteFile on that handle, so writes
// complete through the program's own I/O completion port.
#pragma once

#ifndef _WIN32
#error "virtual cutters replace the real Windows functions; the Linux build has its own emulation"
#endif

#include "platform/windows_virtual/virtual_api.h"

#undef CreateFileW
#define CreateFileW VirtualCreateFileW
#define SetupDiGetClassDevsW VirtualSetupDiGetClassDevsW
#define SetupDiEnumDeviceInfo VirtualSetupDiEnumDeviceInfo
#define SetupDiEnumDeviceInterfaces VirtualSetupDiEnumDeviceInterfaces
#define SetupDiGetDeviceInterfaceDetailW VirtualSetupDiGetDeviceInterfaceDetailW
#define SetupDiGetDeviceInstanceIdA VirtualSetupDiGetDeviceInstanceIdA
#define SetupDiGetDeviceRegistryPropertyA VirtualSetupDiGetDeviceRegistryPropertyA
#define SetupDiDestroyDeviceInfoList VirtualSetupDiDestroyDeviceInfoList
#define WinUsb_Initialize VirtualWinUsb_Initialize
#define WinUsb_Free VirtualWinUsb_Free
#define WinUsb_QueryInterfaceSettings VirtualWinUsb_QueryInterfaceSettings
#define WinUsb_QueryPipe VirtualWinUsb_QueryPipe
#define WinUsb_WritePipe VirtualWinUsb_WritePipe
