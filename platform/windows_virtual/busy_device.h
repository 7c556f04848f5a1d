// A cutter in use, as the program's own CreateFileW should see it.
#pragma once

namespace virtual_usb {

// Routes the program's CreateFileW (its import of it, once) through the
// stand-in, so that opening a cutter that is in use fails as on Windows. A
// WinUSB device is exclusive: the I/O manager refuses a second open with
// STATUS_ACCESS_DENIED, so CreateFileW fails with ERROR_ACCESS_DENIED. The
// cutter's pipe has one instance, which answers ERROR_PIPE_BUSY instead; the
// same answer comes for a moment after the program closed its connection,
// until the instance listens again, so a busy pipe is given that moment
// before it counts as a cutter in use.
void RouteBusyDevices();

}  // namespace virtual_usb
