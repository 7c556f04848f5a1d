// The stand-in setupapi.dll: a device information set is a snapshot of the
// virtual cutters plugged in, each one element with one USB device interface.
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/windows_virtual/cutter_server.h"
#include "platform/windows_virtual/virtual_bus.h"

namespace {

struct DeviceSet {
    std::vector<const virtual_usb::CutterConfig*> cutters;
};

// Sets handed out and not yet destroyed, so a stale handle is refused
// instead of read.
struct SetTable {
    std::mutex mutex;
    std::set<DeviceSet*> live;
};

SetTable& Sets() {
    static SetTable& table = *new SetTable;  // sets may be destroyed during exit
    return table;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

DeviceSet* FindSet(HDEVINFO handle) {
    SetTable& table = Sets();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto* set = static_cast<DeviceSet*>(handle);
    return table.live.count(set) != 0 ? set : nullptr;
}

// The cutter that an element record names; sets the last-error code if none.
const virtual_usb::CutterConfig* Element(HDEVINFO handle, const SP_DEVINFO_DATA* info) {
    DeviceSet* set = FindSet(handle);
    DWORD error = ERROR_INVALID_HANDLE;
    if (set != nullptr) {
        if (info == nullptr || info->cbSize != sizeof(SP_DEVINFO_DATA)) {
            error = ERROR_INVALID_USER_BUFFER;
        } else if (info->DevInst == 0 || info->DevInst > set->cutters.size()) {
            error = ERROR_INVALID_PARAMETER;
        } else {
            return set->cutters[info->DevInst - 1];
        }
    }
    SetLastError(error);
    return nullptr;
}

void FillElement(std::size_t index, SP_DEVINFO_DATA* info) {
    info->ClassGuid = GUID_DEVINTERFACE_USB_DEVICE;
    info->DevInst = static_cast<DWORD>(index + 1);
    info->Reserved = index + 1;
}

// Copies `value` (with its terminator) to `buffer` when it fits; reports the
// size needed either way.
bool CopyOut(const void* value, DWORD size, void* buffer, DWORD capacity, PDWORD required) {
    if (required != nullptr) *required = size;
    if (buffer == nullptr && capacity != 0) return Fail(ERROR_INVALID_USER_BUFFER);
    if (buffer == nullptr || capacity < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value, size);
    return true;
}

}  // namespace

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD flags) {
    if (virtual_usb::InjectedFailure("SetupDiGetClassDevsW")) return INVALID_HANDLE_VALUE;
    auto set = std::make_unique<DeviceSet>();
    virtual_usb::StartCutters();
    // Cutters are USB devices with an interface.
    if (classGuid != nullptr && (flags & DIGCF_DEVICEINTERFACE) != 0 &&
        IsEqualGUID(*classGuid, GUID_DEVINTERFACE_USB_DEVICE)) {
        for (const virtual_usb::CutterConfig& cutter : virtual_usb::Cutters()) {
            if (virtual_usb::Plugged(cutter)) set->cutters.push_back(&cutter);
        }
    }
    SetTable& table = Sets();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.live.insert(set.get());
    return set.release();
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA info) {
    if (virtual_usb::InjectedFailure("SetupDiEnumDeviceInfo")) return FALSE;
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (info == nullptr || info->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (index >= set->cutters.size()) return Fail(ERROR_NO_MORE_ITEMS);
    FillElement(index, info);
    return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA info,
                                        const GUID* interfaceClass, DWORD index,
                                        PSP_DEVICE_INTERFACE_DATA interfaceData) {
    if (virtual_usb::InjectedFailure("SetupDiEnumDeviceInterfaces")) return FALSE;
    if (Element(handle, info) == nullptr) return FALSE;
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (interfaceClass == nullptr || !IsEqualGUID(*interfaceClass, GUID_DEVINTERFACE_USB_DEVICE) ||
        index != 0) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    interfaceData->InterfaceClassGuid = GUID_DEVINTERFACE_USB_DEVICE;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = info->Reserved;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle,
                                             PSP_DEVICE_INTERFACE_DATA interfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA info) {
    if (virtual_usb::InjectedFailure("SetupDiGetDeviceInterfaceDetailW")) return FALSE;
    DeviceSet* set = FindSet(handle);
    if (set == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceData == nullptr || interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        interfaceData->Reserved == 0 || interfaceData->Reserved > set->cutters.size()) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const std::size_t index = interfaceData->Reserved - 1;
    if (info != nullptr) {
        if (info->cbSize != sizeof(SP_DEVINFO_DATA)) return Fail(ERROR_INVALID_USER_BUFFER);
        FillElement(index, info);
    }
    const std::wstring& path = set->cutters[index]->devicePath;
    const DWORD size = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                          (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr) *requiredSize = size;
    if (detail == nullptr) {
        return Fail(detailSize != 0 ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
    }
    // Windows checks the size of the fixed part, not of the whole block.
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detailSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO handle, PSP_DEVINFO_DATA info, PSTR id,
                                        DWORD idSize, PDWORD requiredSize) {
    if (virtual_usb::InjectedFailure("SetupDiGetDeviceInstanceIdA")) return FALSE;
    const virtual_usb::CutterConfig* cutter = Element(handle, info);
    if (cutter == nullptr) return FALSE;
    const std::string& text = cutter->instanceId;
    return CopyOut(text.c_str(), static_cast<DWORD>(text.size() + 1), id, idSize, requiredSize);
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA info,
                                              DWORD property, PDWORD type, PBYTE buffer,
                                              DWORD bufferSize, PDWORD requiredSize) {
    if (virtual_usb::InjectedFailure("SetupDiGetDeviceRegistryPropertyA")) return FALSE;
    const virtual_usb::CutterConfig* cutter = Element(handle, info);
    if (cutter == nullptr) return FALSE;
    if (property != SPDRP_LOCATION_PATHS) return Fail(ERROR_INVALID_DATA);
    if (type != nullptr) *type = REG_MULTI_SZ;
    const std::string paths = virtual_usb::LocationPaths(*cutter);
    return CopyOut(paths.data(), static_cast<DWORD>(paths.size()), buffer, bufferSize,
                   requiredSize);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    if (virtual_usb::InjectedFailure("SetupDiDestroyDeviceInfoList")) return FALSE;
    SetTable& table = Sets();
    std::unique_ptr<DeviceSet> set;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto* candidate = static_cast<DeviceSet*>(handle);
        if (table.live.erase(candidate) == 0) return Fail(ERROR_INVALID_HANDLE);
        set.reset(candidate);
    }
    return TRUE;
}
