// SetupAPI enumeration and device notification, declared for the Linux build
// and implemented over the USB bus in use (winusb/usb_bus.h).
#pragma once

#include "platform/emu/win_types.h"

typedef PVOID HDEVINFO;
typedef PVOID HDEVNOTIFY;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
typedef SP_DEVICE_INTERFACE_DATA* PSP_DEVICE_INTERFACE_DATA;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_W {
    DWORD cbSize;
    WCHAR DevicePath[1];
};
typedef SP_DEVICE_INTERFACE_DETAIL_DATA_W* PSP_DEVICE_INTERFACE_DETAIL_DATA_W;

struct DEV_BROADCAST_DEVICEINTERFACE_W {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    wchar_t dbcc_name[1];
};

#define DIGCF_DEFAULT 0x00000001UL
#define DIGCF_PRESENT 0x00000002UL
#define DIGCF_ALLCLASSES 0x00000004UL
#define DIGCF_PROFILE 0x00000008UL
#define DIGCF_DEVICEINTERFACE 0x00000010UL
#define SPDRP_LOCATION_PATHS 0x00000023UL
#define REG_MULTI_SZ 7UL
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005UL
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000UL
#define DEVICE_NOTIFY_SERVICE_HANDLE 0x00000001UL
// WM_DEVICECHANGE: wParam the event, lParam the DEV_BROADCAST_DEVICEINTERFACE_W.
#define WM_DEVICECHANGE 0x0219
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEREMOVECOMPLETE 0x8004

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: every USB device with an interface.
extern const GUID GUID_DEVINTERFACE_USB_DEVICE;

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent,
                                     DWORD flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                                  PSP_DEVINFO_DATA deviceInfoData);
BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                        const GUID* interfaceClassGuid, DWORD memberIndex,
                                        PSP_DEVICE_INTERFACE_DATA deviceInterfaceData);
BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO deviceInfoSet,
                                             PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                             DWORD detailSize, PDWORD requiredSize,
                                             PSP_DEVINFO_DATA deviceInfoData);
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                        PSTR instanceId, DWORD instanceIdSize, PDWORD requiredSize);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceInfoSet,
                                              PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                              PDWORD propertyRegDataType, PBYTE propertyBuffer,
                                              DWORD propertyBufferSize, PDWORD requiredSize);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);
HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE recipient, LPVOID notificationFilter,
                                              DWORD flags);
BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY handle);
