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
    if (device.locationPaths && device.locationPaths.get()[0] != '\0') {
        return std::string(device.locationPaths.get());
    }
    // A cutter whose port cannot be read is still kept and usable. Its
    // interface path, unique to it, keeps it apart from any other such
    // cutter; the mark sorts them after the cutters whose port is known.
    std::string key(1, kUnknownPortMark);
    if (device.interfaceDetail) {
        for (const WCHAR* c = device.interfaceDetail->DevicePath; *c != 0; ++c) {
            key.push_back(static_cast<char>(*c));  // interface paths are ASCII
        }
    }
    return key;
}
