// WinUSB over the virtual cutters. An interface handle stands for one
// connection: WinUsb_WritePipe writes to the connection's pipe with the
// caller's OVERLAPPED, and the completion takes the real road to the port
// that the file handle is bound to.
#include <cstdint>
#include <memory>

#include "platform/windows_virtual/virtual_api.h"
#include "platform/windows_virtual/virtual_bus.h"

namespace {

// Alternate setting 0 of every cutter: bulk IN, then bulk OUT.
struct Endpoint {
    USBD_PIPE_TYPE type;
    UCHAR address;
};
constexpr Endpoint kEndpoints[] = {{UsbdPipeTypeBulk, 0x81}, {UsbdPipeTypeBulk, 0x02}};
constexpr UCHAR kEndpointCount = sizeof kEndpoints / sizeof kEndpoints[0];
constexpr USHORT kMaxPacketSize = 64;

// What WinUsb_Initialize hands out. The mark lets a stale or foreign handle be
// refused; the object needs no table, so freeing works even during exit.
struct Interface {
    static constexpr std::uint32_t kMark = 0x56555342;  // "VUSB"
    std::uint32_t mark = kMark;
    HANDLE file;
    std::shared_ptr<virtual_usb::Cutter> cutter;
};

Interface* FindInterface(WINUSB_INTERFACE_HANDLE handle) {
    auto* candidate = static_cast<Interface*>(handle);
    if (candidate == nullptr || candidate->mark != Interface::kMark) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return candidate;
}

}  // namespace

HANDLE WINAPI VirtualCreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
    std::shared_ptr<virtual_usb::Cutter> cutter = virtual_usb::FindByPath(path);
    // Job files, the log: the real function.
    if (!cutter) {
        return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    if (virtual_usb::InjectedFailure("CreateFileW")) return INVALID_HANDLE_VALUE;
    if (disposition != OPEN_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE client = cutter->Connect(access, share, security, flags);
    if (client != INVALID_HANDLE_VALUE) virtual_usb::RememberConnection(client, cutter);
    return client;
}

BOOL WINAPI VirtualWinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE handle) {
    if (virtual_usb::InjectedFailure("WinUsb_Initialize")) return FALSE;
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::shared_ptr<virtual_usb::Cutter> cutter = virtual_usb::CutterOfConnection(file);
    if (!cutter) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    auto created = std::make_unique<Interface>();
    created->file = file;
    created->cutter = std::move(cutter);
    *handle = created.release();
    return TRUE;
}

BOOL WINAPI VirtualWinUsb_Free(WINUSB_INTERFACE_HANDLE handle) {
    std::unique_ptr<Interface> freed(FindInterface(handle));
    if (!freed) return FALSE;
    freed->mark = 0;
    return TRUE;
}

BOOL WINAPI VirtualWinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle,
                                                 UCHAR alternateSetting,
                                                 PUSB_INTERFACE_DESCRIPTOR descriptor) {
    if (virtual_usb::InjectedFailure("WinUsb_QueryInterfaceSettings")) return FALSE;
    if (FindInterface(handle) == nullptr) return FALSE;
    if (alternateSetting != 0) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    if (descriptor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *descriptor = USB_INTERFACE_DESCRIPTOR{};
    descriptor->bLength = sizeof(USB_INTERFACE_DESCRIPTOR);
    descriptor->bDescriptorType = USB_INTERFACE_DESCRIPTOR_TYPE;
    descriptor->bNumEndpoints = kEndpointCount;
    descriptor->bInterfaceClass = 0xFF;  // vendor-specific
    return TRUE;
}

BOOL WINAPI VirtualWinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting,
                                    UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) {
    if (virtual_usb::InjectedFailure("WinUsb_QueryPipe")) return FALSE;
    if (FindInterface(handle) == nullptr) return FALSE;
    if (alternateSetting != 0 || pipeIndex >= kEndpointCount) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    if (pipe == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pipe->PipeType = kEndpoints[pipeIndex].type;
    pipe->PipeId = kEndpoints[pipeIndex].address;
    pipe->MaximumPacketSize = kMaxPacketSize;
    pipe->Interval = 0;
    return TRUE;
}

BOOL WINAPI VirtualWinUsb_WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer,
                                    ULONG length, PULONG transferred, LPOVERLAPPED overlapped) {
    if (virtual_usb::InjectedFailure("WinUsb_WritePipe")) return FALSE;
    const Interface* usb = FindInterface(handle);
    if (usb == nullptr) return FALSE;
    bool bulkOut = false;
    for (const Endpoint& endpoint : kEndpoints) {
        bulkOut = bulkOut || (endpoint.address == pipeId && endpoint.type == UsbdPipeTypeBulk &&
                              (pipeId & 0x80) == 0);
    }
    if (!bulkOut) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(usb->file, buffer, length, &written, overlapped);
    if (transferred != nullptr) *transferred = written;
    return ok;
}
