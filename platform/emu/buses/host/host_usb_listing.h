// The host's USB devices as SetupAPI lists them, named without a word to
// any device: identities come from what the kernel read when the device
// arrived (sysfs). Only a cutter whose serial the kernel could not read is
// asked for it, once.
#pragma once

#include <libusb.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emu/winusb/usb_listing.h"

namespace emu {

struct ListedHostDevice {
    UsbListing listing;
    libusb_device* device;  // referenced by the list it came from
};

class HostNames {
  public:
    // Every device of `list` with a USB device interface (root hubs have
    // none), named; the same names in listings and hotplug notifications.
    std::vector<ListedHostDevice> NameAll(libusb_device** list, ssize_t count);
    // The interface path last given to `device`, which has gone; empty if
    // it was never named.
    std::wstring Forget(libusb_device* device);

  private:
    struct Asked {
        int address;  // the kernel gives a device a new one when it comes back
        std::string serial;
    };
    std::string SerialOf(libusb_device* device, const std::string& sysfsName);

    std::mutex mutex;
    std::map<std::string, Asked> asked;         // by sysfs name
    std::map<std::string, std::wstring> paths;  // by sysfs name
};

}  // namespace emu
