// libFuzzer target: the listing of the host's USB devices built from any
// device facts the kernel may report (IDs, bus, port chains of any length)
// and any serial, from a sysfs file or a string descriptor of any length
// (over-long, non-ASCII, NUL-filled, bogus bLength), must name each device
// without reading outside its input, and with one of the two shapes.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/emu/buses/host/host_usb_names.h"

namespace {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    bool Empty() const { return at >= size; }
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    // The next `count` bytes (fewer at the end) in a buffer of their own
    // size, so that AddressSanitizer sees a read past them.
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        const std::size_t taken = count < size - at ? count : size - at;
        std::vector<std::uint8_t> bytes(data + at, data + at + taken);
        at += taken;
        return bytes;
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

emu::HostDeviceFacts NextDevice(Input& input) {
    emu::HostDeviceFacts device;
    device.vendorId = static_cast<std::uint16_t>(input.Byte() | (input.Byte() << 8));
    device.productId = static_cast<std::uint16_t>(input.Byte() | (input.Byte() << 8));
    device.bus = input.Byte();
    const std::uint8_t depth = input.Byte() % 8;
    for (std::uint8_t i = 0; i < depth; ++i) device.ports.push_back(input.Byte());
    const std::uint8_t source = input.Byte();
    const std::vector<std::uint8_t> raw = input.Bytes(input.Byte() * 2u);
    if (source % 2 == 0) {
        device.serial = emu::SerialOfSysfsFile(std::string(raw.begin(), raw.end()));
    } else {
        device.serial =
            emu::SerialOfStringDescriptor(raw.empty() ? nullptr : raw.data(), raw.size());
    }
    return device;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    std::vector<emu::HostDeviceFacts> devices;
    while (!input.Empty() && devices.size() < 16) devices.push_back(NextDevice(input));
    const std::vector<std::string> ids = emu::InstanceIds(devices);
    if (ids.size() != devices.size()) std::abort();
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::string generated = emu::GeneratedSegment(devices[i].bus, devices[i].ports);
        const std::string tail = ids[i].substr(sizeof "USB\\VID_xxxx&PID_xxxx\\" - 1);
        std::string serial = devices[i].serial;  // instance IDs are in upper case
        for (char& c : serial) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (tail != generated && tail != serial) std::abort();
        if (tail == serial && tail != generated && !emu::UsableSerial(serial)) std::abort();
        emu::LocationPath(devices[i].bus, devices[i].ports);
        emu::SysfsName(devices[i].bus, devices[i].ports);
    }
    return 0;
}
