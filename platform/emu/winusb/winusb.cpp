// WinUSB over the virtual devices, or over the host's through libusb. An interface handle is a
// pointer to an object the emulation owns; it is checked before every use, so a freed or foreign
// handle fails with ERROR_INVALID_HANDLE instead of crashing.
#include <mutex>
#include <unordered_map>

#include "platform/emu/faults.h"
#include "platform/emu/buses/host/host_usb.h"
#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/buses/virtual/virtual_device_impl.h"
#include "platform/emu/winusb/winusb_interfaces.h"

namespace emu {
namespace {

WinUsbInterfaces<DeviceFile>& TheInterfaces() {
    static auto* interfaces = new WinUsbInterfaces<DeviceFile>;  // used during exit
    return *interfaces;
}

std::shared_ptr<DeviceFile> FileOf(WINUSB_INTERFACE_HANDLE handle) {
    return TheInterfaces().FileOf(handle);
}

// The device behind `handle`, or null with the last error set.
std::shared_ptr<VirtualDeviceImpl> PresentDeviceOf(WINUSB_INTERFACE_HANDLE handle) {
    auto file = FileOf(handle);
    if (!file) return nullptr;
    if (!file->Device()->Present()) {
        SetLastError(kRemovedDeviceError);
        return nullptr;
    }
    return file->Device();
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
    if (emu::IsHostDeviceFile(object)) return emu::HostWinUsbInitialize(object, interfaceHandle);
    auto file = std::dynamic_pointer_cast<emu::DeviceFile>(object);
    // Not a USB device, or one whose driver knows no WinUSB request.
    if (!file || !file->Device()->Config().winUsb) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!file->IsOverlapped()) {
        SetLastError(ERROR_INVALID_PARAMETER);  // WinUSB needs FILE_FLAG_OVERLAPPED
        return FALSE;
    }
    if (!file->Device()->Present()) {
        SetLastError(emu::kRemovedDeviceError);
        return FALSE;
    }
    *interfaceHandle = emu::TheInterfaces().Add(file);
    file->Device()->InterfaceOpened();
    return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE interfaceHandle) {
    if (emu::InjectedFailure("WinUsb_Free")) return FALSE;
    if (emu::IsHostInterface(interfaceHandle)) return emu::HostWinUsbFree(interfaceHandle);
    const std::shared_ptr<emu::DeviceFile> freed = emu::TheInterfaces().Remove(interfaceHandle);
    if (!freed) return FALSE;
    freed->Device()->InterfaceFreed(freed.get());
    return TRUE;
}

BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE interfaceHandle,
                                          UCHAR alternateInterfaceNumber,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor) {
    if (emu::InjectedFailure("WinUsb_QueryInterfaceSettings")) return FALSE;
    if (emu::IsHostInterface(interfaceHandle)) {
        return emu::HostWinUsbQueryInterfaceSettings(interfaceHandle, alternateInterfaceNumber,
                                                     descriptor);
    }
    auto device = emu::PresentDeviceOf(interfaceHandle);
    if (!device) return FALSE;
    if (alternateInterfaceNumber != 0) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    *descriptor = USB_INTERFACE_DESCRIPTOR{};
    descriptor->bLength = sizeof(USB_INTERFACE_DESCRIPTOR);
    descriptor->bDescriptorType = 4;  // INTERFACE
    descriptor->bNumEndpoints = static_cast<UCHAR>(device->Config().endpoints.size());
    descriptor->bInterfaceClass = 0xFF;  // vendor specific, as WinUSB devices are
    return TRUE;
}

BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE interfaceHandle,
                             UCHAR alternateInterfaceNumber, UCHAR pipeIndex,
                             PWINUSB_PIPE_INFORMATION pipeInformation) {
    if (emu::InjectedFailure("WinUsb_QueryPipe")) return FALSE;
    if (emu::IsHostInterface(interfaceHandle)) {
        return emu::HostWinUsbQueryPipe(interfaceHandle, alternateInterfaceNumber, pipeIndex,
                                        pipeInformation);
    }
    auto device = emu::PresentDeviceOf(interfaceHandle);
    if (!device) return FALSE;
    const auto& endpoints = device->Config().endpoints;
    if (alternateInterfaceNumber != 0 || pipeIndex >= endpoints.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const emu::UsbEndpoint& endpoint = endpoints[pipeIndex];
    *pipeInformation =
        WINUSB_PIPE_INFORMATION{endpoint.type, endpoint.address, endpoint.maxPacketSize, 0};
    return TRUE;
}

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE interfaceHandle, UCHAR pipeId, PUCHAR buffer,
                             ULONG bufferLength, PULONG lengthTransferred,
                             LPOVERLAPPED overlapped) {
    if (emu::InjectedFailure("WinUsb_WritePipe")) return FALSE;
    if (emu::IsHostInterface(interfaceHandle)) {
        return emu::HostWinUsbWritePipe(interfaceHandle, pipeId, buffer, bufferLength,
                                        lengthTransferred, overlapped);
    }
    auto file = emu::FileOf(interfaceHandle);
    if (!file) return FALSE;
    return file->Device()->WritePipe(file, pipeId, buffer, bufferLength, lengthTransferred,
                                     overlapped);
}
