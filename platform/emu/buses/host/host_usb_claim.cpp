#include "platform/emu/buses/host/host_usb_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/emu/buses/host/host_usb_names.h"

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

// The names in folder `path` that start with `prefix`.
std::vector<std::string> Entries(const std::string& path, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* folder = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0) names.push_back(name);
        }
        ::closedir(folder);
    }
    return names;
}

// The node the printer driver made for interface 0 (/dev/usb/lpN), or "".
std::string PrinterNode(libusb_device_handle* handle) {
    libusb_device* device = libusb_get_device(handle);
    int configuration = 0;
    if (libusb_get_configuration(handle, &configuration) != LIBUSB_SUCCESS) return "";
    std::uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    if (depth <= 0) return "";
    const std::string name =
        SysfsName(libusb_get_bus_number(device), std::vector<std::uint8_t>(ports, ports + depth));
    const std::string interface =
        "/sys/bus/usb/devices/" + name + ":" + std::to_string(configuration) + ".0/usbmisc";
    const std::vector<std::string> nodes = Entries(interface, "lp");
    return nodes.empty() ? "" : "/dev/usb/" + nodes.front();
}

bool AllDigits(const std::string& text) {
    for (char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    }
    return !text.empty();
}

// Whether a process this user may look into has `node` open.
bool OpenInSomeProcess(const struct stat& node) {
    for (const std::string& process : Entries("/proc", "")) {
        if (!AllDigits(process)) continue;
        const std::string fds = "/proc/" + process + "/fd";
        for (const std::string& fd : Entries(fds, "")) {
            struct stat open {};
            if (::stat((fds + "/" + fd).c_str(), &open) == 0 && open.st_dev == node.st_dev &&
                open.st_ino == node.st_ino)
                return true;
        }
    }
    return false;
}

// The printer driver lets one file open its node. Processes this user can
// see are looked into first; the driver itself then answers for the rest
// (EBUSY), an open that only probes and is closed at once.
bool PrinterNodeInUse(libusb_device_handle* handle) {
    const std::string node = PrinterNode(handle);
    struct stat status {};
    if (node.empty() || ::stat(node.c_str(), &status) != 0) return false;
    if (OpenInSomeProcess(status)) return true;
    const int fd = ::open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
    return fd < 0 && errno == EBUSY;
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
    if (!KernelDriver(libusb_get_device(handle), &driver)) return false;
    return driver == "usbfs" || (driver == "usblp" && PrinterNodeInUse(handle));
}

}  // namespace emu
