// A QUILL::UsbDevice for a virtual device, made the way enumeration makes
// one: identity fields and a LocalAlloc'd interface detail with its path.
#pragma once

#include <cstring>
#include <memory>

#include "platform/emu/buses/virtual/virtual_usb.h"
#include "usb/usb_device.h"

inline std::shared_ptr<QUILL::UsbDevice> MakeDevice(boost::asio::io_service& service,
                                                    const emu::VirtualDevice& virtualDevice) {
    auto device = std::make_shared<QUILL::UsbDevice>(service);
    const std::wstring path = virtualDevice.DevicePath();
    const SIZE_T size =
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(WCHAR);
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(LocalAlloc(LMEM_ZEROINIT, size));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    device->interfaceDetail.reset(detail);
    device->vendorId = virtualDevice.Config().vendorId;
    device->productId = virtualDevice.Config().productId;
    return device;
}
