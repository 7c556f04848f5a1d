// Clears what one in-process run of the program leaves for the next: the
// cutters it registered and chose, armed faults, plugged cutters, and the
// desktop with its scripts and records.
#pragma once

#include "app/front_end_state.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "platform/emu/control.h"
#include "usb/usb_listener.h"

inline void ResetEmulation() {
    usbListener.connectedCutters.clear();
    emu::ClearFaults();
    emu::UnplugAll();
    emu::UseScriptedDesktop();
    SelectedCutterIndex = -1;
}
