#include "usb/usb_device.h"

#include <boost/asio/write.hpp>
#include <boost/system/system_error.hpp>

#include "log/format_text.h"
#include "log/logger.h"

namespace QUILL {
namespace {

#if defined(_WIN32)
// WinUSB fills these in place: the interface descriptor is the bytes of the
// wire format, the pipe record has natural alignment, on either bitness.
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9, "USB_INTERFACE_DESCRIPTOR");
static_assert(sizeof(WINUSB_PIPE_INFORMATION) == 12, "WINUSB_PIPE_INFORMATION");
#endif

const char kAsyncOpenContext[] = "void __thiscall QUILL::UsbDevice::AsyncOpen(void)";

void LogOpenError(const std::string& message) {
    Logger::Instance().Error() << kAsyncOpenContext << " - " << message;
}

// Owns the handles of a connection being opened until the stream takes them.
class PendingConnection {
  public:
    PendingConnection() : native(winusb_native_handle::closed()) {}
    ~PendingConnection() {
        if (native.winusb_handle != nullptr) WinUsb_Free(native.winusb_handle);
        if (native.file_handle != INVALID_HANDLE_VALUE) CloseHandle(native.file_handle);
    }
    PendingConnection(const PendingConnection&) = delete;
    PendingConnection& operator=(const PendingConnection&) = delete;

    // The stream owns the handles from now on.
    void Release() { native = winusb_native_handle::closed(); }

    winusb_native_handle native;
};

// Takes the bulk pipes of alternate setting 0; the last bulk pipe of each
// direction wins.
bool FindBulkPipes(winusb_native_handle& native) {
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!WinUsb_QueryInterfaceSettings(native.winusb_handle, 0, &descriptor)) {
        LogOpenError(
            FormatText("WinUsb_QueryInterfaceSettings Error\r\n failed (%lu)", GetLastError()));
        return false;
    }
    for (UCHAR index = 0; index < descriptor.bNumEndpoints; ++index) {
        WINUSB_PIPE_INFORMATION pipe{};
        if (!WinUsb_QueryPipe(native.winusb_handle, 0, index, &pipe)) {
            LogOpenError(FormatText("WinUsb_QueryPipe Error\r\n failed (%lu)", GetLastError()));
            return false;
        }
        if (pipe.PipeType != UsbdPipeTypeBulk) continue;
        if ((pipe.PipeId & 0x80) != 0) {
            native.bulk_in_pipe = pipe.PipeId;
        } else {
            native.bulk_out_pipe = pipe.PipeId;
        }
    }
    if (native.bulk_in_pipe == 0 || native.bulk_out_pipe == 0) {
        LogOpenError(FormatText("WinUsb_QueryPipe2 Error\r\n failed (%lu)", GetLastError()));
        return false;
    }
    return true;
}

}  // namespace

UsbDevice::UsbDevice(boost::asio::io_service& service) : ioService(service), stream(service) {}

UsbDevice::~UsbDevice() {
    try {
        Close();
    } catch (const boost::system::system_error&) {
        // The handle is released whether or not Windows reported success, and
        // devices die last at exit, when the log is gone: nobody is left to
        // tell, and a destructor must not throw.
    }
}

void UsbDevice::AsyncOpen() {
    PendingConnection connection;
    winusb_native_handle& native = connection.native;
    if (!interfaceDetail) {
        // Enumeration delivers no device without a path; never open "nothing".
        SetLastError(ERROR_INVALID_PARAMETER);
        LogOpenError(FormatText("CreateFile PIPE Error\r\n failed (%lu)", GetLastError()));
        return;
    }
    native.file_handle = CreateFileW(interfaceDetail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (native.file_handle == INVALID_HANDLE_VALUE) {
        LogOpenError(FormatText("CreateFile PIPE Error\r\n failed (%lu)", GetLastError()));
        return;
    }
    if (!WinUsb_Initialize(native.file_handle, &native.winusb_handle)) {
        native.winusb_handle = nullptr;
        LogOpenError(FormatText("WinUsb_Initialize Error\r\n failed (%lu)", GetLastError()));
        return;
    }
    if (!FindBulkPipes(native)) return;

    boost::system::error_code ec;
    stream.assign(native, ec);
    if (ec) {
        Logger::Instance().Warning() << kAsyncOpenContext << " - " << ec.message();
        return;
    }
    connection.Release();
}

bool UsbDevice::IsOpen() const {
    return stream.is_open();
}

void UsbDevice::Close() {
    boost::system::error_code ec;
    stream.close(ec);
    if (ec) throw boost::system::system_error(ec, "close");
}

void UsbDevice::AsyncWrite(const void* data, std::uint32_t length,
                           std::function<void(bool)> callback) {
    if (!IsOpen()) {
        lastWrite = {ERROR_INVALID_HANDLE, 0};
        callback(false);
        return;
    }
    boost::asio::async_write(stream, boost::asio::buffer(data, length),
                             [this, length, callback = std::move(callback)](
                                 const boost::system::error_code& ec, std::size_t accepted) {
                                 // A request that moves no bytes without an error ends the whole
                                 // write early: the cutter has not taken the rest, so the write
                                 // failed, however it ended.
                                 const DWORD error = static_cast<DWORD>(ec.value());
                                 lastWrite = {error, static_cast<std::uint32_t>(accepted)};
                                 callback(error == 0 && accepted == length);
                             });
}

}  // namespace QUILL
