// Which host USB devices WinUsb_Initialize may take: Windows gives WinUSB
// only a cutter's interface, so interface 0 is checked before anything
// touches it, and only the printer driver is ever detached from it.
#pragma once

#include <libusb.h>

#include "platform/emu/win_types.h"

namespace emu {

// ERROR_SUCCESS when interface 0 of `handle`'s device may be claimed, with
// `detach` telling whether the printer driver holds it and must let go;
// else the Windows error WinUsb_Initialize gives: ERROR_NOT_READY for a
// device without its first configuration in use, ERROR_INVALID_FUNCTION
// for an interface that is not a cutter's or that another driver holds.
DWORD CheckCutterInterface(libusb_device_handle* handle, bool* detach);

// Whether an open file other than `handle`'s holds interface 0 (another
// program through usbfs, or through the printer driver's node): WinUSB lets
// one file open a device at a time, so the open is refused before anything
// touches the device.
bool InterfaceHeldElsewhere(libusb_device_handle* handle);

}  // namespace emu
