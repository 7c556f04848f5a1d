// Clears what one in-process run of the program leaves for the next: the
// cutters it registered and chose, armed faults, plugged cutters, and the
// desktop with its scripts and records.
#pragma once

#include "app/front_end_state.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "platform/emu/control.h"
#include "usb/usb_listener.h"

// What does not depend on the bus; touching the virtual bus (as unplugging
// its cutters does) makes it the bus of the process.
inline void ResetProgramState() {
    usbListener.connectedCutters.clear();
    emu::ClearFaults();
    emu::UseScriptedDesktop();
    SelectedCutterIndex = -1;
}

inline void ResetEmulation() {
    ResetProgramState();
    emu::UnplugAll();
}
