// What the USB manager asks of, and tells, its listener.
#pragma once

#include <cstdint>
#include <memory>

namespace QUILL {

class UsbDevice;

// No virtual destructor: listeners are never deleted through this interface.
class IUsbListener {
  public:
    // Should a device with these IDs be taken?
    virtual bool IsSupported(std::uint16_t vendorId, std::uint16_t productId) = 0;
    // A wanted device is present.
    virtual void OnArrival(std::shared_ptr<UsbDevice> device) = 0;
    // A device has gone.
    virtual void OnRemoval(std::shared_ptr<UsbDevice> device) = 0;
    // Reserved; nothing calls it.
    virtual void OnReserved(std::uint32_t value) = 0;

  protected:
    ~IUsbListener() = default;
};

}  // namespace QUILL
