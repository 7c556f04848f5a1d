// SetupAPI over the USB bus in use (winusb/usb_bus.h). A device information
// set is a snapshot of the devices present when it was made; its handle is
// checked before every use. Device-change messages carry what the bus
// reports of arrivals and removals to windows.
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/setupapi/setupapi_api.h"
#include "platform/emu/user32/user_api.h"
#include "platform/emu/winusb/usb_bus.h"

const GUID GUID_DEVINTERFACE_USB_DEVICE = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace emu {
namespace {

// The setup class of USB devices, which the elements report.
const GUID kUsbClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr DWORD kSpintActive = 1;

struct DeviceInfoSet {
    std::vector<UsbListing> elements;
};

struct Sets {
    std::mutex mutex;
    std::unordered_map<void*, std::unique_ptr<DeviceInfoSet>> live;
};

Sets& TheSets() {
    static Sets* sets = new Sets;
    return *sets;
}

// The snapshot behind `handle`, or null with ERROR_INVALID_HANDLE.
DeviceInfoSet* SetOf(HDEVINFO handle) {
    Sets& sets = TheSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    auto it = sets.live.find(handle);
    if (it == sets.live.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second.get();
}

// The element a record names (Reserved holds its position + 1), or null
// with the error Windows gives for a record that names nothing.
const UsbListing* ElementOf(DeviceInfoSet& set, DWORD cbSize, DWORD expected, ULONG_PTR reserved) {
    if (cbSize != expected) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    if (reserved == 0 || reserved > set.elements.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set.elements[reserved - 1];
}

const UsbListing* ElementOf(DeviceInfoSet& set, const SP_DEVINFO_DATA* info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ElementOf(set, info->cbSize, sizeof(SP_DEVINFO_DATA), info->Reserved);
}

void Describe(std::size_t position, SP_DEVINFO_DATA* info) {
    info->ClassGuid = kUsbClass;
    info->DevInst = static_cast<DWORD>(position + 1);
    info->Reserved = position + 1;
}

std::size_t PositionOf(const DeviceInfoSet& set, const UsbListing* device) {
    return static_cast<std::size_t>(device - set.elements.data());
}

std::string LocationPathsProperty(const UsbListing& device) {
    std::string multi;
    for (const std::string& path : device.locationPaths) multi += path + '\0';
    multi += '\0';
    // Registry data need not end as its type says; Windows hands it over as stored.
    if (device.unterminatedLocationPaths) multi.erase(multi.find_last_not_of('\0') + 1);
    return multi;
}

// A window's registration for device-change messages. The records its
// messages point to live as long as the process: a window may read one late.
struct Notification {
    HWND window = nullptr;
    UsbBus* bus = nullptr;
    void* watch = nullptr;
    std::deque<std::vector<unsigned char>> delivered;
};

struct Notifications {
    std::mutex mutex;
    std::vector<std::unique_ptr<Notification>> all;
};

Notifications& TheNotifications() {
    static Notifications* notifications = new Notifications;
    return *notifications;
}

void Deliver(Notification* notification, WPARAM what, const std::wstring& path) {
    const std::size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
    DEV_BROADCAST_DEVICEINTERFACE_W header{};
    header.dbcc_size = static_cast<DWORD>(size);
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    header.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    std::vector<unsigned char> bytes(size);
    std::memcpy(bytes.data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), path.c_str(),
                (path.size() + 1) * sizeof(wchar_t));
    void* record = nullptr;
    {
        std::lock_guard<std::mutex> lock(TheNotifications().mutex);
        notification->delivered.push_back(std::move(bytes));
        record = notification->delivered.back().data();
    }
    PostMessageW(notification->window, WM_DEVICECHANGE, what, reinterpret_cast<LPARAM>(record));
}

}  // namespace
}  // namespace emu

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD flags) {
    if (emu::InjectedFailure("SetupDiGetClassDevsW")) return INVALID_HANDLE_VALUE;
    if (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_unique<emu::DeviceInfoSet>();
    const bool usbInterfaces = (flags & DIGCF_DEVICEINTERFACE) != 0 && classGuid != nullptr &&
                               *classGuid == GUID_DEVINTERFACE_USB_DEVICE;
    if (usbInterfaces) set->elements = emu::TheUsbBus().Devices();
    HDEVINFO handle = set.get();
    emu::Sets& sets = emu::TheSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    sets.live.emplace(handle, std::move(set));
    return handle;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
    if (emu::InjectedFailure("SetupDiDestroyDeviceInfoList")) return FALSE;
    emu::Sets& sets = emu::TheSets();
    std::lock_guard<std::mutex> lock(sets.mutex);
    if (sets.live.erase(deviceInfoSet) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                                  PSP_DEVINFO_DATA deviceInfoData) {
    if (emu::InjectedFailure("SetupDiEnumDeviceInfo")) return FALSE;
    emu::DeviceInfoSet* set = emu::SetOf(deviceInfoSet);
    if (set == nullptr) return FALSE;
    if (deviceInfoData == nullptr || deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (memberIndex >= set->elements.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    emu::Describe(memberIndex, deviceInfoData);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                        const GUID* interfaceClassGuid, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA deviceInterfaceData) {
    if (emu::InjectedFailure("SetupDiEnumDeviceInterfaces")) return FALSE;
    emu::DeviceInfoSet* set = emu::SetOf(deviceInfoSet);
    if (set == nullptr) return FALSE;
    if (deviceInterfaceData == nullptr ||
        deviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // Each element has at most one USB device interface.
    std::size_t position = memberIndex;
    if (deviceInfoData != nullptr) {
        if (!emu::ElementOf(*set, deviceInfoData)) return FALSE;
        position = deviceInfoData->Reserved - 1;
        if (memberIndex != 0) position = set->elements.size();
    }
    if (position >= set->elements.size() ||
        !(*interfaceClassGuid == GUID_DEVINTERFACE_USB_DEVICE)) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    deviceInterfaceData->InterfaceClassGuid = *interfaceClassGuid;
    deviceInterfaceData->Flags = emu::kSpintActive;
    deviceInterfaceData->Reserved = position + 1;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO deviceInfoSet,
                                             PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA deviceInfoData) {
    if (emu::InjectedFailure("SetupDiGetDeviceInterfaceDetailW")) return FALSE;
    emu::DeviceInfoSet* set = emu::SetOf(deviceInfoSet);
    if (set == nullptr) return FALSE;
    if (deviceInterfaceData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const emu::UsbListing* device =
        emu::ElementOf(*set, deviceInterfaceData->cbSize, sizeof(SP_DEVICE_INTERFACE_DATA),
                       deviceInterfaceData->Reserved);
    if (device == nullptr) return FALSE;
    const std::wstring path = device->devicePath;
    const DWORD needed =
        static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                           (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr) *requiredSize = needed;
    if (deviceInfoData != nullptr) {
        if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        emu::Describe(emu::PositionOf(*set, device), deviceInfoData);
    }
    if (detail == nullptr) {
        SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    // Windows checks the fixed part's size, not the buffer's.
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                        PSTR instanceId, DWORD instanceIdSize,
                                        PDWORD requiredSize) {
    if (emu::InjectedFailure("SetupDiGetDeviceInstanceIdA")) return FALSE;
    emu::DeviceInfoSet* set = emu::SetOf(deviceInfoSet);
    if (set == nullptr) return FALSE;
    const emu::UsbListing* device = emu::ElementOf(*set, deviceInfoData);
    if (device == nullptr) return FALSE;
    const std::string& id = device->instanceId;
    if (requiredSize != nullptr) *requiredSize = static_cast<DWORD>(id.size() + 1);
    if (instanceId == nullptr || instanceIdSize < id.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(instanceId, id.c_str(), id.size() + 1);
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceInfoSet,
                                              PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                              PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                              DWORD propertyBufferSize, PDWORD requiredSize) {
    if (emu::InjectedFailure("SetupDiGetDeviceRegistryPropertyA")) return FALSE;
    emu::DeviceInfoSet* set = emu::SetOf(deviceInfoSet);
    if (set == nullptr) return FALSE;
    const emu::UsbListing* device = emu::ElementOf(*set, deviceInfoData);
    if (device == nullptr) return FALSE;
    if (property != SPDRP_LOCATION_PATHS || device->locationPaths.empty()) {
        SetLastError(ERROR_INVALID_DATA);  // what Windows says of a property a device lacks
        return FALSE;
    }
    const std::string value = emu::LocationPathsProperty(*device);
    if (requiredSize != nullptr) *requiredSize = static_cast<DWORD>(value.size());
    if (propertyRegDataType != nullptr) *propertyRegDataType = REG_MULTI_SZ;
    if (propertyBuffer == nullptr || propertyBufferSize < value.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(propertyBuffer, value.data(), value.size());
    return TRUE;
}

HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE recipient, LPVOID notificationFilter,
                                              DWORD flags) {
    if (emu::InjectedFailure("RegisterDeviceNotificationW")) return nullptr;
    const auto* filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(notificationFilter);
    if (recipient == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (filter == nullptr || filter->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Messages go to windows only.
    if ((flags & DEVICE_NOTIFY_SERVICE_HANDLE) != 0) {
        static char token;
        return &token;
    }
    auto notification = std::make_unique<emu::Notification>();
    emu::Notification* raw = notification.get();
    raw->window = static_cast<HWND>(recipient);
    raw->bus = &emu::TheUsbBus();
    {
        emu::Notifications& notifications = emu::TheNotifications();
        std::lock_guard<std::mutex> lock(notifications.mutex);
        notifications.all.push_back(std::move(notification));
    }
    void* watch = raw->bus->Watch([raw](bool arrived, const std::wstring& path) {
        emu::Deliver(raw, arrived ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, path);
    });
    if (watch == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(emu::TheNotifications().mutex);
    raw->watch = watch;
    return raw;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle) {
    if (emu::InjectedFailure("UnregisterDeviceNotification")) return FALSE;
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    void* watch = nullptr;
    emu::UsbBus* bus = nullptr;
    {
        emu::Notifications& notifications = emu::TheNotifications();
        std::lock_guard<std::mutex> lock(notifications.mutex);
        for (const auto& candidate : notifications.all) {
            if (candidate.get() != handle) continue;
            std::swap(watch, candidate->watch);
            bus = candidate->bus;
        }
    }
    if (watch != nullptr) bus->Unwatch(watch);
    return TRUE;
}
