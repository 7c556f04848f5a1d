#include "platform/emu/buses/host/host_usb_listing.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <set>

#include "platform/emu/buses/host/host_usb_names.h"
#include "platform/virtual_cutter_names.h"

namespace emu {
namespace {

constexpr wchar_t kInterfaceTail[] = L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr std::uint16_t kCutterVendor = 0x2E7A;
constexpr unsigned kStringTimeoutMs = 500;
// Beyond libusb's own time-out: a cancel the controller never gives back.
constexpr std::chrono::seconds kStringLimit{2};

std::vector<std::uint8_t> PortsOf(libusb_device* device) {
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    return count > 0 ? std::vector<std::uint8_t>(ports, ports + count)
                     : std::vector<std::uint8_t>();
}

std::string SysfsNameOf(libusb_device* device) {
    return SysfsName(libusb_get_bus_number(device), PortsOf(device));
}

bool ReadSysfsFile(const std::string& path, std::string* contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    contents->clear();
    char buffer[512];  // an attribute is at most a page; a serial far less
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        contents->append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

struct StringRequest {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::string serial;
};

void LIBUSB_CALL StringDone(libusb_transfer* transfer) {
    auto* owner = static_cast<std::shared_ptr<StringRequest>*>(transfer->user_data);
    const std::shared_ptr<StringRequest> request = std::move(*owner);
    delete owner;
    std::string serial;
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
        serial = SerialOfStringDescriptor(libusb_control_transfer_get_data(transfer),
                                          static_cast<std::size_t>(transfer->actual_length));
    }
    std::lock_guard<std::mutex> lock(request->mutex);
    request->serial = serial;
    request->finished = true;
    request->done.notify_all();
}

// Asks the device for serial string `index` in US English, as Windows asks
// for it; "" when it does not answer. Asynchronous, through the event
// thread: libusb 1.0.26's blocking calls race with a thread that handles
// events.
std::string AskSerial(libusb_device* device, std::uint8_t index) {
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return "";
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    auto* buffer = static_cast<unsigned char*>(std::malloc(LIBUSB_CONTROL_SETUP_SIZE + 255));
    if (transfer == nullptr || buffer == nullptr) {
        std::free(buffer);
        libusb_free_transfer(transfer);
        libusb_close(handle);
        return "";
    }
    auto request = std::make_shared<StringRequest>();
    libusb_fill_control_setup(buffer, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                              static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index), 0x0409,
                              255);
    libusb_fill_control_transfer(transfer, handle, buffer, StringDone,
                                 new std::shared_ptr<StringRequest>(request), kStringTimeoutMs);
    transfer->flags = LIBUSB_TRANSFER_FREE_BUFFER | LIBUSB_TRANSFER_FREE_TRANSFER;
    if (libusb_submit_transfer(transfer) != LIBUSB_SUCCESS) {
        delete static_cast<std::shared_ptr<StringRequest>*>(transfer->user_data);
        libusb_free_transfer(transfer);
        libusb_close(handle);
        return "";
    }
    std::unique_lock<std::mutex> lock(request->mutex);
    // Not back: the handle stays open under the transfer, never closed.
    if (!request->done.wait_for(lock, kStringLimit, [&] { return request->finished; })) return "";
    const std::string serial = request->serial;
    lock.unlock();
    libusb_close(handle);
    return serial;
}

}  // namespace

std::string HostNames::SerialOf(libusb_device* device, const std::string& sysfsName) {
    std::string contents;
    if (ReadSysfsFile("/sys/bus/usb/devices/" + sysfsName + "/serial", &contents))
        return SerialOfSysfsFile(contents);
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(device, &descriptor);
    if (descriptor.idVendor != kCutterVendor || descriptor.iSerialNumber == 0) return "";
    const int address = libusb_get_device_address(device);
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto known = asked.find(sysfsName);
        if (known != asked.end() && known->second.address == address) return known->second.serial;
    }
    const std::string serial = AskSerial(device, descriptor.iSerialNumber);
    std::lock_guard<std::mutex> lock(mutex);
    asked[sysfsName] = Asked{address, serial};
    return serial;
}

std::vector<ListedHostDevice> HostNames::NameAll(libusb_device** list, ssize_t count) {
    std::vector<libusb_device*> devices;
    std::vector<std::string> names;
    std::vector<HostDeviceFacts> facts;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_port_number(list[i]) == 0) continue;  // a root hub
        libusb_device_descriptor descriptor{};
        libusb_get_device_descriptor(list[i], &descriptor);
        HostDeviceFacts fact;
        fact.vendorId = descriptor.idVendor;
        fact.productId = descriptor.idProduct;
        fact.bus = libusb_get_bus_number(list[i]);
        fact.ports = PortsOf(list[i]);
        names.push_back(SysfsName(fact.bus, fact.ports));
        fact.serial = SerialOf(list[i], names.back());
        devices.push_back(list[i]);
        facts.push_back(std::move(fact));
    }
    const std::vector<std::string> ids = InstanceIds(facts);
    std::vector<ListedHostDevice> listed;
    std::lock_guard<std::mutex> lock(mutex);
    const std::set<std::string> present(names.begin(), names.end());
    for (auto it = asked.begin(); it != asked.end();)
        it = present.count(it->first) != 0 ? std::next(it) : asked.erase(it);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        UsbListing listing;
        listing.instanceId = ids[i];
        listing.devicePath = platform::UsbInterfacePath(ids[i], kInterfaceTail);
        listing.locationPaths = {LocationPath(facts[i].bus, facts[i].ports)};
        paths[names[i]] = listing.devicePath;
        listed.push_back({std::move(listing), devices[i]});
    }
    return listed;
}

std::wstring HostNames::Forget(libusb_device* device) {
    const std::string name = SysfsNameOf(device);
    std::lock_guard<std::mutex> lock(mutex);
    asked.erase(name);
    auto it = paths.find(name);
    if (it == paths.end()) return L"";
    const std::wstring path = it->second;
    paths.erase(it);
    return path;
}

}  // namespace emu
