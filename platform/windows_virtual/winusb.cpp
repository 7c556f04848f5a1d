// The stand-in winusb.dll. An interface handle stands for one connection
// that the program opened with CreateFileW on a cutter's device path:
// WinUsb_WritePipe writes to it with the caller's OVERLAPPED, so the
// completion takes the real road to the port that the file handle is bound to.
#include <memory>
#include <mutex>
#include <unordered_map>

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

// What WinUsb_Initialize hands out.
struct Interface {
    HANDLE file;
    const virtual_usb::CutterConfig* cutter;
};

// The live interface handles. A freed or foreign handle is refused by not
// being here, never by reading what it points at, which may be freed. Never
// destroyed: the program may free its handles while the process ends.
class Interfaces {
  public:
    WINUSB_INTERFACE_HANDLE Add(const Interface& usb) {
        auto created = std::make_unique<Interface>(usb);
        WINUSB_INTERFACE_HANDLE handle = created.get();
        std::lock_guard<std::mutex> lock(mutex);
        live.emplace(handle, std::move(created));
        return handle;
    }

    // A copy of a live handle's interface; false with ERROR_INVALID_HANDLE
    // otherwise.
    bool Find(WINUSB_INTERFACE_HANDLE handle, Interface* usb) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = live.find(handle);
        if (found == live.end()) return Refuse();
        *usb = *found->second;
        return true;
    }

    // As Find, and the handle is forgotten.
    bool Remove(WINUSB_INTERFACE_HANDLE handle, Interface* usb) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = live.find(handle);
        if (found == live.end()) return Refuse();
        *usb = *found->second;
        live.erase(found);
        return true;
    }

  private:
    static bool Refuse() {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }

    std::mutex mutex;
    std::unordered_map<WINUSB_INTERFACE_HANDLE, std::unique_ptr<Interface>> live;
};

Interfaces& TheInterfaces() {
    static Interfaces& interfaces = *new Interfaces;
    return interfaces;
}

}  // namespace

BOOL WINAPI WinUsb_Initialize(HANDLE file, PWINUSB_INTERFACE_HANDLE handle) {
    if (virtual_usb::InjectedFailure("WinUsb_Initialize")) return FALSE;
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const virtual_usb::CutterConfig* cutter = virtual_usb::CutterOfHandle(file);
    if (cutter == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (cutter->otherDriver) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    *handle = TheInterfaces().Add({file, cutter});
    return TRUE;
}

BOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE handle) {
    Interface freed{};
    if (!TheInterfaces().Remove(handle, &freed)) return FALSE;
    // A close that fails: the program's CloseHandle that follows is refused
    // with ERROR_INVALID_HANDLE. Closing the handle here instead would free
    // its value, which Wine hands to the next handle created by any thread,
    // and the program would then close that one.
    if (freed.cutter->closeFails) {
        SetHandleInformation(freed.file, HANDLE_FLAG_PROTECT_FROM_CLOSE,
                             HANDLE_FLAG_PROTECT_FROM_CLOSE);
    }
    return TRUE;
}

BOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor) {
    if (virtual_usb::InjectedFailure("WinUsb_QueryInterfaceSettings")) return FALSE;
    Interface usb{};
    if (!TheInterfaces().Find(handle, &usb)) return FALSE;
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

BOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR alternateSetting,
                             UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) {
    if (virtual_usb::InjectedFailure("WinUsb_QueryPipe")) return FALSE;
    Interface usb{};
    if (!TheInterfaces().Find(handle, &usb)) return FALSE;
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

BOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipeId, PUCHAR buffer,
                             ULONG length, PULONG transferred, LPOVERLAPPED overlapped) {
    if (virtual_usb::InjectedFailure("WinUsb_WritePipe")) return FALSE;
    Interface usb{};
    if (!TheInterfaces().Find(handle, &usb)) return FALSE;
    if (virtual_usb::Unplugged(*usb.cutter)) {
        SetLastError(ERROR_BAD_COMMAND);
        return FALSE;
    }
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
    const BOOL ok = WriteFile(usb.file, buffer, length, &written, overlapped);
    if (transferred != nullptr) *transferred = written;
    return ok;
}
