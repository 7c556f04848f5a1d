#include "usb/usb_listener.h"

#include "usb/cutter_models.h"

UsbListener usbListener;

UsbListener::~UsbListener() {
    connectedCutters.clear();
}

bool UsbListener::IsSupported(std::uint16_t vendorId, std::uint16_t productId) {
    const CutterModel* model = FindCutterModel(productId);
    return vendorId == kCutterVendorId && model != nullptr && model->name != nullptr;
}

void UsbListener::OnArrival(std::shared_ptr<QUILL::UsbDevice> device) {
    connectedCutters[KeyOf(*device)] = std::move(device);
}

void UsbListener::OnRemoval(std::shared_ptr<QUILL::UsbDevice> device) {
    connectedCutters.erase(KeyOf(*device));
}

std::string UsbListener::KeyOf(const QUILL::UsbDevice& device) {
    // A cutter whose port cannot be read is still kept, under the empty key:
    // it can be used, only its place in the list is not known.
    return device.locationPaths ? std::string(device.locationPaths.get()) : std::string();
}
