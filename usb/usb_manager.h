// Finds the USB devices that are present, identifies them, and hands the
// wanted ones to its listener. Owns the I/O service all device I/O runs on.
#pragma once

#include <memory>

#include <boost/asio/io_service.hpp>

#include "platform/win32.h"
#include "usb/device_notify_target.h"
#include "usb/usb_device.h"
#include "usb/usb_listener_interface.h"

namespace QUILL {

class UsbManager : public IUsbListener {
  public:
    UsbManager();
    UsbManager(const UsbManager&) = delete;
    UsbManager& operator=(const UsbManager&) = delete;

    // Defaults: every device is wanted, arrivals and removals are ignored.
    bool IsSupported(std::uint16_t vendorId, std::uint16_t productId) override;
    void OnArrival(std::shared_ptr<UsbDevice> device) override;
    void OnRemoval(std::shared_ptr<UsbDevice> device) override;
    void OnReserved(std::uint32_t value) override;

    // One enumeration pass: OnArrival for each wanted device present, in
    // enumeration order. Throws QUILL::Exception when the device list
    // cannot be obtained. The flag has no effect.
    void Init(bool flag);

    // Identifies one device interface: a new device, or null when it is not
    // wanted or cannot be identified. `deviceInfo` may be null.
    std::unique_ptr<UsbDevice> GetDevice(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfo,
                                         SP_DEVICE_INTERFACE_DATA* interfaceData);

    // Registers notifyTarget's recipient for USB interface arrivals and
    // removals. Throws QUILL::Exception when Windows refuses.
    void RegDeviceNotification();

  protected:
    ~UsbManager() = default;

    DeviceNotifyTarget* notifyTarget;
    IUsbListener* listener;

  public:
    boost::asio::io_service ioService;

  private:
    bool ReadInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData, DWORD required,
                             UsbDevice& device);
    void ReadLocationPaths(HDEVINFO set, SP_DEVINFO_DATA* info, UsbDevice& device);
};

}  // namespace QUILL
