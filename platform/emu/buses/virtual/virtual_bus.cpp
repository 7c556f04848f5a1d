#include "platform/emu/buses/virtual/virtual_bus.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cwctype>
#include <mutex>

#include "platform/emu/buses/virtual/virtual_device_impl.h"
#include "platform/emu/kernel32/devices.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/virtual_cutter_names.h"

namespace emu {
namespace {

// Set once a test uses the bus's control; from then on the bus is virtual.
std::atomic<bool> controlUsed{false};

struct Bus {
    std::mutex mutex;
    std::vector<std::shared_ptr<VirtualDeviceImpl>> present;
    // Every device ever plugged in stays alive to the end: a transfer in
    // flight on its engine thread must never hold its last reference.
    std::vector<std::shared_ptr<VirtualDeviceImpl>> all;
};

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    return text;
}

std::shared_ptr<KernelObject> OpenDevicePath(Bus& bus, const std::wstring& path, DWORD flags,
                                             DWORD* error) {
    std::shared_ptr<VirtualDeviceImpl> device;
    {
        std::lock_guard<std::mutex> lock(bus.mutex);
        for (const auto& candidate : bus.present) {
            if (Lower(candidate->DevicePath()) == Lower(path)) device = candidate;
        }
    }
    *error = ERROR_FILE_NOT_FOUND;
    if (!device || !device->Opened(error)) return nullptr;
    return std::make_shared<DeviceFile>(device, (flags & FILE_FLAG_OVERLAPPED) != 0);
}

std::string MakeInstanceId(const VirtualDeviceConfig& config);
std::wstring MakeDevicePath(const std::string& instanceId, std::size_t ordinal);

void Add(Bus& bus, const std::shared_ptr<VirtualDeviceImpl>& device) {
    bus.present.push_back(device);
    bus.all.push_back(device);
}

std::shared_ptr<VirtualDeviceImpl> Make(const Bus& bus, const VirtualDeviceConfig& config) {
    const std::string instanceId = MakeInstanceId(config);
    return std::make_shared<VirtualDeviceImpl>(config, MakeDevicePath(instanceId, bus.all.size()),
                                               instanceId);
}

// Whether `port` is among the ';'-separated ports of `list`.
bool NamesPort(const char* list, const std::string& port) {
    if (list == nullptr) return false;
    const std::string ports = ";" + std::string(list) + ";";
    return ports.find(";" + port + ";") != std::string::npos;
}

bool ParseDevice(const std::string& text, VirtualDeviceConfig* config) {
    platform::VirtualDeviceEntry entry;
    if (!platform::ParseVirtualDeviceEntry(text, &entry)) return false;
    config->winUsb = !NamesPort(std::getenv(kOtherDriverVariable), entry.port);
    config->vendorId = entry.vendorId;
    config->productId = entry.productId;
    config->serial = entry.serial;
    config->locationPaths = {PortLocationPath(entry.port)};
    config->receiveFile = entry.receiveFile;
    return true;
}

void PlugInFromEnvironment(Bus& bus) {
    const char* list = std::getenv(kDevicesVariable);
    if (list == nullptr) return;
    std::string text(list);
    std::string::size_type start = 0;
    while (start <= text.size()) {
        const std::string::size_type end = text.find(';', start);
        VirtualDeviceConfig config;
        if (ParseDevice(text.substr(start, end - start), &config)) Add(bus, Make(bus, config));
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

Bus& TheBus();

// Present devices, in the order they were plugged in.
std::vector<std::shared_ptr<VirtualDeviceImpl>> PresentDevices() {
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    return bus.present;
}

Bus& TheBus() {
    static Bus* bus = [] {
        auto* created = new Bus;  // devices outlive every static that may close them
        PlugInFromEnvironment(*created);
        return created;
    }();
    return *bus;
}

std::string MakeInstanceId(const VirtualDeviceConfig& config) {
    if (!config.instanceId.empty()) return config.instanceId;
    return platform::UsbInstanceId(config.vendorId, config.productId, config.serial);
}

// Odd test IDs may repeat; the ordinal keeps every path unique.
std::wstring MakeDevicePath(const std::string& instanceId, std::size_t ordinal) {
    return platform::UsbInterfacePath(
        instanceId, L"#" + std::to_wstring(ordinal) + L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");
}

}  // namespace

std::shared_ptr<VirtualDevice> PlugIn(const VirtualDeviceConfig& config) {
    controlUsed = true;
    Bus& bus = TheBus();
    std::lock_guard<std::mutex> lock(bus.mutex);
    auto device = Make(bus, config);
    Add(bus, device);
    return device;
}

void Unplug(const std::shared_ptr<VirtualDevice>& device) {
    controlUsed = true;
    Bus& bus = TheBus();
    std::shared_ptr<VirtualDeviceImpl> removed;
    {
        std::lock_guard<std::mutex> lock(bus.mutex);
        auto it = std::find(bus.present.begin(), bus.present.end(), device);
        if (it == bus.present.end()) return;
        removed = *it;
        bus.present.erase(it);
    }
    removed->Remove();
}

void UnplugAll() {
    controlUsed = true;
    for (const auto& device : PresentDevices()) Unplug(device);
}

std::vector<std::shared_ptr<VirtualDevice>> PluggedDevices() {
    controlUsed = true;
    auto present = PresentDevices();
    return std::vector<std::shared_ptr<VirtualDevice>>(present.begin(), present.end());
}

bool VirtualBusInUse() {
    return controlUsed || std::getenv(kDevicesVariable) != nullptr;
}

UsbBus& VirtualUsbBus() {
    class VirtualBus : public UsbBus {
      public:
        std::vector<UsbListing> Devices() override {
            std::vector<UsbListing> listed;
            for (const auto& device : PresentDevices()) {
                if (!device->Config().hasInterface) continue;
                listed.push_back({device->InstanceId(), device->DevicePath(),
                                  device->Config().locationPaths,
                                  device->Config().unterminatedLocationPaths});
            }
            return listed;
        }

        std::shared_ptr<KernelObject> Open(const std::wstring& path, DWORD flags,
                                           DWORD* error) override {
            return OpenDevicePath(TheBus(), path, flags, error);
        }
        // The system learns of virtual devices by listing them.
        void* Watch(UsbDeviceChange) override {
            static char token;
            return &token;
        }
        void Unwatch(void*) override {}
    };
    static auto* bus = new VirtualBus;  // used during exit
    return *bus;
}

}  // namespace emu
