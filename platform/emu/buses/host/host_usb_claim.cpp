#include "platform/emu/buses/host/host_usb_claim.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace emu {
namespace {

// WinUSB puts a device into its first configuration; one left unconfigured
// (refused for power, blocked) or switched to another is not what the
// cutter's driver would have on Windows.
bool FirstConfigurationActive(libusb_device_handle* handle) {
    int active = 0;
    if (libusb_get_configuration(handle, &active) != LIBUSB_SUCCESS || active == 0) return false;
    libusb_config_descriptor* first = nullptr;
    if (libusb_get_config_descriptor(libusb_get_device(handle), 0, &first) != LIBUSB_SUCCESS)
        return false;
    const bool same = first->bConfigurationValue == active;
    libusb_free_config_descriptor(first);
    return same;
}

bool HasBulkOut(const libusb_interface_descriptor& setting) {
    for (int i = 0; i < setting.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
        if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) == 0 &&
            (endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK)
            return true;
    }
    return false;
}

// Alternate setting 0 of interface 0 in the active configuration.
bool FirstSettingHasBulkOut(libusb_device_handle* handle) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(libusb_get_device(handle), &config) != LIBUSB_SUCCESS)
        return false;
    bool found = false;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& candidate = config->interface[i];
        if (candidate.num_altsetting > 0 && candidate.altsetting[0].bInterfaceNumber == 0 &&
            candidate.altsetting[0].bAlternateSetting == 0)
            found = HasBulkOut(candidate.altsetting[0]);
    }
    libusb_free_config_descriptor(config);
    return found;
}

// The kernel driver bound to interface 0, "" for none; false when the
// device cannot be asked. libusb tells only whether there is one, so its
// node is asked directly.
bool KernelDriver(libusb_device* device, std::string* driver) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    const int fd = ::open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    usbdevfs_getdriver request{};
    request.interface = 0;
    const int result = ::ioctl(fd, USBDEVFS_GETDRIVER, &request);
    const int error = errno;
    ::close(fd);
    if (result != 0) {
        driver->clear();
        return error == ENODATA;
    }
    request.driver[sizeof request.driver - 1] = '\0';
    *driver = request.driver;
    return true;
}

}  // namespace

DWORD CheckCutterInterface(libusb_device_handle* handle, bool* detach) {
    *detach = false;
    if (!FirstConfigurationActive(handle)) return ERROR_NOT_READY;
    if (!FirstSettingHasBulkOut(handle)) return ERROR_INVALID_FUNCTION;
    std::string driver;
    if (!KernelDriver(libusb_get_device(handle), &driver)) return ERROR_INVALID_FUNCTION;
    // "usbfs": another program has it, and claiming says so (busy).
    if (!driver.empty() && driver != "usblp" && driver != "usbfs") return ERROR_INVALID_FUNCTION;
    *detach = driver == "usblp";
    return ERROR_SUCCESS;
}

// Called before this handle claims anything, so a usbfs claim is another's.
bool InterfaceHeldElsewhere(libusb_device_handle* handle) {
    std::string driver;
    return KernelDriver(libusb_get_device(handle), &driver) && driver == "usbfs";
}

}  // namespace emu
