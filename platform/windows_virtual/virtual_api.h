// The functions that stand in for SetupAPI, WinUSB and CreateFileW in the
// test variant of the Windows program (see virtual_names.h). Same signatures
// as the real ones.
#pragma once

#include "platform/win32.h"

HANDLE WINAPI VirtualCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile);

HDEVINFO WINAPI VirtualSetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent,
                                            DWORD flags);
BOOL WINAPI VirtualSetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA info);
BOOL WINAPI VirtualSetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info,
                                               const GUID* interfaceClass, DWORD index,
                                               PSP_DEVICE_INTERFACE_DATA interfaceData);
BOOL WINAPI VirtualSetupDiGetDeviceInterfaceDetailW(HDEVINFO set,
                                                    PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                    PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                    DWORD detailSize, PDWORD requiredSize,
                                                    PSP_DEVINFO_DATA info);
BOOL WINAPI VirtualSetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA info, PSTR id,
                                               DWORD idSize, PDWORD requiredSize);
BOOL WINAPI VirtualSetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA info,
                                                     DWORD property, PDWORD type, PBYTE buffer,
                                                     DWORD bufferSize, PDWORD requiredSize);
BOOL WINAPI VirtualSetupDiDestroyDeviceInfoList(HDEVINFO set);

BOOL WINAPI VirtualWinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE handle);
BOOL WINAPI VirtualWinUsb_Free(WINUSB_INTERFACE_HANDLE handle);
BOOL WINAPI VirtualWinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle,
                                                 UCHAR alternateSetting,
                                                 PUSB_INTERFACE_DESCRIPTOR descriptor);
BOOL WINAPI VirtualWinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting,
                                    UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe);
BOOL WINAPI VirtualWinUsb_WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer,
                                    ULONG length, PULONG transferred, LPOVERLAPPED overlapped);
