// The application's listener: it takes only cutters and keeps the map of
// the connected ones, keyed by the location path of their USB port.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "usb/usb_manager.h"

class UsbListener : public QUILL::UsbManager {
  public:
    UsbListener() = default;
    // Releases every device before the manager's I/O service goes.
    ~UsbListener();

    bool IsSupported(std::uint16_t vendorId, std::uint16_t productId) override;
    // Stores the device under its key, replacing (and releasing) a device
    // already stored there.
    void OnArrival(std::shared_ptr<QUILL::UsbDevice> device) override;
    // Forgets the device stored under the device's key, if any.
    void OnRemoval(std::shared_ptr<QUILL::UsbDevice> device) override;

    // Ordered by key, byte by byte; read and changed on the user-interface
    // thread only.
    std::map<std::string, std::shared_ptr<QUILL::UsbDevice>> connectedCutters;

    // The first byte of the key of a cutter whose port cannot be read: no
    // location path starts with it, and it sorts after every other byte.
    static constexpr char kUnknownPortMark = '\xFF';

    // The device's first location path, or the unknown-port mark and its
    // interface path.
    static std::string KeyOf(const QUILL::UsbDevice& device);
};

// The process-wide listener, built during static initialisation.
extern UsbListener usbListener;
