// The cutters' end of their connections, run by the stand-in setupapi.dll.
#pragma once

namespace virtual_usb {

// Starts, once, a thread per cutter of Cutters() that keeps an instance of
// its pipe listening while it is plugged in. Every connection is then read by
// a thread of its own, which appends what arrives to the cutter's file. A
// pipe without buffer means a write completes only when the cutter has taken
// its bytes, as on the bus.
void StartCutters();

}  // namespace virtual_usb
