// How a host USB device is named in the listing and in hotplug
// notifications, from what the kernel already knows of it: the same rules
// for both, so that one device has one name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace emu {

// One present device as the kernel shows it.
struct HostDeviceFacts {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;  // from the root hub down
    std::string serial;               // UTF-8 as the kernel gives it; may be unusable
};

// The kernel's name of the device, as in /sys/bus/usb/devices: "1-4.2".
std::string SysfsName(std::uint8_t bus, const std::vector<std::uint8_t>& ports);

// The serial in a sysfs `serial` file's contents: its one line.
std::string SerialOfSysfsFile(const std::string& contents);
// The serial in a string descriptor's bytes, converted as the kernel
// converts it for sysfs: UTF-16LE to UTF-8, up to the first NUL.
std::string SerialOfStringDescriptor(const unsigned char* bytes, std::size_t length);

// Windows takes a serial as the instance's own segment only if it is
// printable ASCII without commas.
bool UsableSerial(const std::string& serial);

// The segment Windows makes up for a device without a usable serial:
// "5&" and eight hexadecimal digits that stand for the hub it is plugged
// into, "&0&" and its port on that hub.
std::string GeneratedSegment(std::uint8_t bus, const std::vector<std::uint8_t>& ports);

// "PCIROOT(0)#PCI(1400)#USBROOT(bus)#USB(port)...".
std::string LocationPath(std::uint8_t bus, const std::vector<std::uint8_t>& ports);

// The instance IDs of `devices`, in their order. Of devices with the same
// IDs and serial, the one nearest the root in port order keeps the serial
// and the others get generated segments, whatever order they came in.
std::vector<std::string> InstanceIds(const std::vector<HostDeviceFacts>& devices);

}  // namespace emu
