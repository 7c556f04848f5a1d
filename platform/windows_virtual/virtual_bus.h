// Virtual cutters for the Windows program under test, shared by the two
// stand-in system DLLs built here: setupapi.dll lists the cutters and runs
// them, winusb.dll writes to them. Put beside the unchanged bladepost.exe and
// loaded instead of the system's (under Wine: WINEDLLOVERRIDES="setupapi,winusb=n").
// Both read their configuration from the program's environment:
//
//   EMU_USB_DEVICES     ';'-separated "vendor:product:serial:port[:file]", IDs
//                       in hexadecimal; the file, a Windows path, receives
//                       every byte the cutter takes in.
//   EMU_USB_DELAYS      ';'-separated "port:milliseconds": the time the cutter
//                       takes before it accepts each write.
//   EMU_USB_STALLS      ';'-separated "port:bytes": once the cutter has taken
//                       that many bytes of a connection it takes no more, and
//                       the program's write stays pending until the program
//                       gives up the connection or the cutter is unplugged.
//   EMU_FAULTS          ','-separated "Function:nth:error[:times]": the nth
//                       call (1-based) of a SetupDi* or WinUsb_* function here
//                       fails with `error`, `times` calls in a row (default 1).
//                       An injected WinUsb_WritePipe failure makes the call
//                       itself return FALSE.
//   EMU_USB_ABSENT      ';'-separated ports: those cutters are not plugged in
//                       at start.
//   EMU_USB_CLOSE_FAILS ';'-separated ports: closing that cutter fails:
//                       WinUsb_Free protects the connection's file handle from
//                       closing, so the program's CloseHandle that follows
//                       fails with ERROR_INVALID_HANDLE; the connection then
//                       stays open until the process ends.
//   EMU_USB_OTHER_DRIVER ';'-separated ports: that cutter is bound to another
//                       driver than WinUSB. SetupAPI lists it all the same (it
//                       lists every device of the USB device interface class)
//                       and CreateFileW opens it, but WinUsb_Initialize fails
//                       with ERROR_INVALID_FUNCTION: its driver completes the
//                       WinUSB request as one it does not know.
//   EMU_USB_BUS         the bus the cutters are on: by default the program's
//                       process ID in decimal, so each program has cutters
//                       of its own. A program given another's ID shares its
//                       cutters: whichever of them listed a cutter first
//                       serves it, and the cutter is open to one connection
//                       at a time, from either (a second open fails with
//                       ERROR_ACCESS_DENIED, see busy_device.h).
//
// Another process plugs and unplugs cutters through two manual-reset events
// per port, created by whichever side comes first (CreateEventW, same name):
//
//   Local\bladepost-virtual-<bus>-plug-<port>
//   Local\bladepost-virtual-<bus>-unplug-<port>
//
// <bus> is EMU_USB_BUS as above. A cutter is plugged in while
// unplug is not set and either plug is set or it was not absent at start.
// Once unplug is set, enumeration no longer lists it, its connections are
// broken at once (a write in flight fails) and WinUsb_WritePipe on it fails
// with ERROR_BAD_COMMAND, as WinUSB reports for a device that is gone.
//
// The device path SetupAPI hands out is a named pipe,
// \\?\pipe\bladepost-virtual-<bus>-<interface> with <interface> the device's
// Windows interface name (usb#vid_vvvv&pid_pppp#serial#{class}), so the
// program's own CreateFileW opens a fresh connection to the cutter each time.
// WinUsb_Initialize recognises the cutter by the pipe name of the handle.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace virtual_usb {

struct CutterConfig {
    USHORT vendorId = 0;
    USHORT productId = 0;
    std::string serial;  // the instance-specific segment of the instance ID
    std::string port;
    std::wstring receiveFile;  // none if empty
    DWORD delayMs = 0;         // before each write is accepted
    DWORD stallAfter = 0;      // bytes of a connection taken before it stalls; 0: never
    bool absentAtStart = false;
    bool closeFails = false;
    bool otherDriver = false;
    std::string instanceId;   // USB\VID_vvvv&PID_pppp\SERIAL
    std::wstring devicePath;  // what CreateFileW opens
    std::wstring pipeName;    // as the handle names its pipe: \bladepost-virtual-...
    HANDLE plugEvent = nullptr;
    HANDLE unplugEvent = nullptr;
};

// The cutters named in the environment, in the order given; read at the
// first call and kept to the end of the process.
const std::vector<CutterConfig>& Cutters();

bool Plugged(const CutterConfig& cutter);
bool Unplugged(const CutterConfig& cutter);

// The cutter whose pipe `file` is a connection to; null if none.
const CutterConfig* CutterOfHandle(HANDLE file);

// SPDRP_LOCATION_PATHS: one path, then the empty string ending the list.
std::string LocationPaths(const CutterConfig& cutter);

// Counts a call of `function`; true, with the last-error code set, when
// EMU_FAULTS says this call fails.
bool InjectedFailure(const char* function);

}  // namespace virtual_usb
