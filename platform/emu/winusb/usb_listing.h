// One USB device as SetupAPI lists it, whichever bus it is on.
#pragma once

#include <string>
#include <vector>

namespace emu {

struct UsbListing {
    std::string instanceId;                  // USB\VID_xxxx&PID_xxxx\<serial or generated>
    std::wstring devicePath;                 // its USB device interface, for CreateFileW
    std::vector<std::string> locationPaths;  // SPDRP_LOCATION_PATHS; empty: not readable
    bool unterminatedLocationPaths = false;  // stored without its terminating zeros
};

}  // namespace emu
