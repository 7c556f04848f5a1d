#include "usb/usb_manager.h"

#include <cstddef>
#include <cstring>

#include "log/exception.h"
#include "log/format_text.h"
#include "log/logger.h"
#include "platform/device_info_set.h"
#include "usb/instance_id.h"

DeviceNotifyTarget deviceNotifyTarget = {};

namespace QUILL {
namespace {

const char kInitContext[] = "void __thiscall QUILL::UsbManager::Init(bool)";
const char kGetDeviceContext[] =
    "class QUILL::UsbDevice *__thiscall QUILL::UsbManager::GetDevice(void *,struct "
    "_SP_DEVINFO_DATA *,struct _SP_DEVICE_INTERFACE_DATA *)";
const char kRegContext[] = "void __thiscall QUILL::UsbManager::RegDeviceNotification(void)";

constexpr DWORD kInstanceIdCapacity = 1024;

#if defined(_WIN32) && !defined(_WIN64)
// The record sizes that 32-bit Windows checks: SetupAPI refuses a cbSize
// other than its own with ERROR_INVALID_USER_BUFFER, and the records it
// fills are laid out for 4-byte pointers.
static_assert(sizeof(void*) == 4 && sizeof(ULONG_PTR) == 4, "a 32-bit program");
static_assert(sizeof(DWORD) == 4 && sizeof(WCHAR) == 2, "DWORD, WCHAR");
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "SP_DEVICE_INTERFACE_DETAIL_DATA_W");
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "DEV_BROADCAST_DEVICEINTERFACE_W");
#elif defined(_WIN64)
// The detail record's cbSize differs by bitness: 6 would be refused here.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "SP_DEVICE_INTERFACE_DETAIL_DATA_W");
static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA");
#endif

void LogError(const char* context, const std::string& message) {
    Logger::Instance().Error() << context << " - " << message;
}

void LogWarning(const char* context, const std::string& message) {
    Logger::Instance().Warning() << context << " - " << message;
}

}  // namespace

UsbManager::UsbManager() : notifyTarget(&deviceNotifyTarget), listener(this) {}

bool UsbManager::IsSupported(std::uint16_t, std::uint16_t) {
    return true;
}
void UsbManager::OnArrival(std::shared_ptr<UsbDevice>) {}
void UsbManager::OnRemoval(std::shared_ptr<UsbDevice>) {}
void UsbManager::OnReserved(std::uint32_t) {}

void UsbManager::Init(bool) {
    platform::DeviceInfoSet set(SetupDiGetClassDevsW(
        &GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set.valid()) {
        const std::string message =
            FormatText("%s failed (%lu)", "SetupDiGetClassDevs", GetLastError());
        LogError(kInitContext, message);
        throw Exception(message);
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof(SP_DEVINFO_DATA);
        if (!SetupDiEnumDeviceInfo(set.get(), index, &info)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS) {
                LogWarning(kInitContext, FormatText("SetupDiEnumDeviceInfo failed (%lu)", error));
            }
            break;
        }
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
        if (!SetupDiEnumDeviceInterfaces(set.get(), &info, &GUID_DEVINTERFACE_USB_DEVICE, 0,
                                         &interfaceData)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_ITEMS) {
                LogWarning(kInitContext,
                           FormatText("SetupDiEnumDeviceInterfaces failed (%lu)", error));
                continue;
            }
        }
        std::shared_ptr<UsbDevice> device = GetDevice(set.get(), &info, &interfaceData);
        if (device) listener->OnArrival(device);
        // The pass lets go here: what the listener kept is the only owner.
    }
}

std::unique_ptr<UsbDevice> UsbManager::GetDevice(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                                 SP_DEVICE_INTERFACE_DATA* interfaceData) {
    SP_DEVINFO_DATA localInfo{};
    localInfo.cbSize = sizeof(SP_DEVINFO_DATA);
    DWORD required = 0;
    if (!SetupDiGetDeviceInterfaceDetailW(set, interfaceData, nullptr, 0, &required,
                                          deviceInfo != nullptr ? nullptr : &localInfo)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            LogWarning(kGetDeviceContext,
                       FormatText("SetupDiGetDeviceInterfaceDetail failed (%lu)", error));
            return nullptr;
        }
    }
    SP_DEVINFO_DATA* info = deviceInfo != nullptr ? deviceInfo : &localInfo;

    char instanceId[kInstanceIdCapacity] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, info, instanceId, kInstanceIdCapacity, nullptr)) {
        LogError(kGetDeviceContext,
                 FormatText("SetupDiGetDeviceInstanceId failed (%lu)", GetLastError()));
        return nullptr;
    }
    const InstanceIdentity identity = ParseInstanceId(instanceId, kInstanceIdCapacity);
    if (!listener->IsSupported(identity.vendorId, identity.productId)) return nullptr;

    auto device = std::make_unique<UsbDevice>(ioService);
    if (!ReadInterfaceDetail(set, interfaceData, required, *device)) return nullptr;
    device->vendorId = identity.vendorId;
    device->productId = identity.productId;
    device->serialNumber = identity.serialNumber;
    ReadLocationPaths(set, info, *device);
    return device;
}

bool UsbManager::ReadInterfaceDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                     DWORD required, UsbDevice& device) {
    // Without a path the device could never be opened: it is not delivered.
    const DWORD size = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                           ? required
                           : static_cast<DWORD>(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    platform::LocalBlock<SP_DEVICE_INTERFACE_DETAIL_DATA_W> detail(
        static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(LocalAlloc(LMEM_ZEROINIT, size)));
    if (!detail) {
        LogError(kGetDeviceContext, FormatText("LocalAlloc failed (%lu)", GetLastError()));
        return false;
    }
    // Windows checks the size of the fixed part, not of the whole block.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail.get(), size, &required,
                                          nullptr)) {
        const DWORD error = GetLastError();
        detail.reset();
        LogError(kGetDeviceContext,
                 FormatText("SetupDiGetDeviceInterfaceDetail failed (%lu)", error));
        return false;
    }
    device.interfaceDetail = std::move(detail);
    return true;
}

void UsbManager::ReadLocationPaths(HDEVINFO set, SP_DEVINFO_DATA* info, UsbDevice& device) {
    DWORD required = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(set, info, SPDRP_LOCATION_PATHS, nullptr, nullptr, 0,
                                           &required)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            LogWarning(kGetDeviceContext,
                       FormatText("SetupDiGetDeviceRegistryProperty (1) failed (%lu)", error));
            return;
        }
    }
    if (required == 0) {
        LogWarning(kGetDeviceContext, "SetupDiGetDeviceRegistryProperty failed to get size needed");
        return;
    }
    // One zero byte more than asked: the key is read up to the first NUL,
    // which must lie inside the block even if the value is not terminated.
    platform::LocalBlock<char> paths(static_cast<char*>(LocalAlloc(LMEM_ZEROINIT, required + 1)));
    if (!paths) {
        LogError(kGetDeviceContext, FormatText("LocalAlloc failed (%lu)", GetLastError()));
        return;
    }
    if (!SetupDiGetDeviceRegistryPropertyA(set, info, SPDRP_LOCATION_PATHS, nullptr,
                                           reinterpret_cast<PBYTE>(paths.get()), required,
                                           nullptr)) {
        const DWORD error = GetLastError();
        paths.reset();
        LogError(kGetDeviceContext,
                 FormatText("SetupDiGetDeviceRegistryProperty failed (%lu)", error));
        return;
    }
    device.locationPaths = std::move(paths);
}

void UsbManager::RegDeviceNotification() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
    notifyTarget->notificationHandle = RegisterDeviceNotificationW(
        notifyTarget->recipient, &filter,
        notifyTarget->recipientIsWindow != 0 ? DEVICE_NOTIFY_WINDOW_HANDLE
                                             : DEVICE_NOTIFY_SERVICE_HANDLE);
    if (notifyTarget->notificationHandle == nullptr) {
        const std::string message =
            FormatText("%s failed (%lu)", "RegisterDeviceNotification", GetLastError());
        LogError(kRegContext, message);
        throw Exception(message);
    }
}

}  // namespace QUILL
