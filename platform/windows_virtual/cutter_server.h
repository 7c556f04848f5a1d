// The cutters' end of their connections, run by the stand-in setupapi.dll.
#pragma once

namespace virtual_usb {

// Starts, once, a thread per cutter of Cutters() that keeps the one instance
// of its pipe listening while it is plugged in, and reads each connection in
// turn, appending what arrives to the cutter's file. A pipe without buffer
// means a write completes only when the cutter has taken its bytes, as on the
// bus; one instance means one connection at a time, as WinUSB allows.
void StartCutters();

}  // namespace virtual_usb
