// WinUSB over the files the USB bus opens (winusb/usb_bus.h). An interface
// handle is a pointer to an object WinUSB owns; it is checked before every
// use, so a freed or foreign handle fails with ERROR_INVALID_HANDLE instead
// of crashing.
#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/winusb/usb_bus.h"
#include "platform/emu/winusb/winusb_interfaces.h"

namespace emu {
namespace {

WinUsbInterfaces<UsbDeviceFile>& TheInterfaces() {
    static auto* interfaces = new WinUsbInterfaces<UsbDeviceFile>;  // used during exit
    return *interfaces;
}

}  // namespace
}  // namespace emu

BOOL WINAPI WinUsb_Initialize(HANDLE deviceHandle, PWINUSB_INTERFACE_HANDLE interfaceHandle) {
    if (emu::InjectedFailure("WinUsb_Initialize")) return FALSE;
    if (interfaceHandle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto object = emu::LookupHandle(deviceHandle);
    if (!object) return FALSE;
    auto file = std::dynamic_pointer_cast<emu::UsbDeviceFile>(object);
    // Not a USB device, or one whose driver knows no WinUSB request.
    if (!file || !file->SpeaksWinUsb()) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!file->IsOverlapped()) {
        SetLastError(ERROR_INVALID_PARAMETER);  // WinUSB needs FILE_FLAG_OVERLAPPED
        return FALSE;
    }
    if (!file->Claim()) return FALSE;
    *interfaceHandle = emu::TheInterfaces().Add(file);
    return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE interfaceHandle) {
    if (emu::InjectedFailure("WinUsb_Free")) return FALSE;
    const std::shared_ptr<emu::UsbDeviceFile> freed = emu::TheInterfaces().Remove(interfaceHandle);
    if (!freed) return FALSE;
    freed->Release();
    return TRUE;
}

BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE interfaceHandle,
                                          UCHAR alternateInterfaceNumber,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor) {
    if (emu::InjectedFailure("WinUsb_QueryInterfaceSettings")) return FALSE;
    auto file = emu::TheInterfaces().FileOf(interfaceHandle);
    if (!file) return FALSE;
    return file->QueryInterfaceSettings(alternateInterfaceNumber, descriptor);
}

BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE interfaceHandle,
                             UCHAR alternateInterfaceNumber, UCHAR pipeIndex,
                             PWINUSB_PIPE_INFORMATION pipeInformation) {
    if (emu::InjectedFailure("WinUsb_QueryPipe")) return FALSE;
    auto file = emu::TheInterfaces().FileOf(interfaceHandle);
    if (!file) return FALSE;
    return file->QueryPipe(alternateInterfaceNumber, pipeIndex, pipeInformation);
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE interfaceHandle, UCHAR pipeId, PUCHAR buffer,
                             ULONG bufferLength, PULONG lengthTransferred,
                             LPOVERLAPPED overlapped) {
    if (emu::InjectedFailure("WinUsb_WritePipe")) return FALSE;
    auto file = emu::TheInterfaces().FileOf(interfaceHandle);
    if (!file) return FALSE;
    return file->WritePipe(pipeId, buffer, bufferLength, lengthTransferred, overlapped);
}
