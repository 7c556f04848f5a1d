// One attached cutter: its identity, and its WinUSB connection while open.
#pragma once

#include <cstdint>
#include <functional>

#include <boost/asio/io_service.hpp>

#include "platform/local_block.h"
#include "platform/win32.h"
#include "usb/winusb_stream_handle.h"

namespace QUILL {

class UsbDevice {
  public:
    // A closed device bound to `ioService`; enumeration fills in the rest.
    explicit UsbDevice(boost::asio::io_service& ioService);
    // Closes the connection if open; never throws.
    ~UsbDevice();

    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    // Opens the cutter's interface and takes its bulk pipes. Failures are
    // logged and leave the device as it was; check IsOpen() afterwards.
    void AsyncOpen();
    bool IsOpen() const;
    // Closes the connection; does nothing when closed. Throws
    // boost::system::system_error ("close") when the file handle cannot be
    // closed; the device is closed all the same.
    void Close();
    // Writes `length` bytes at `data` (kept valid and unchanged until the
    // callback has run) to the bulk-out pipe. `callback` runs exactly once:
    // at once with false when the device is not open, otherwise later, on
    // the thread that runs ioService, with true when the whole buffer went out
    // without error, and false otherwise: also when a request moved no bytes
    // and so ended the write before its end.
    void AsyncWrite(const void* data, std::uint32_t length, std::function<void(bool)> callback);

    // How the last write ended: the system's error code (0 when none came,
    // also for a write that ended short) and how many of its bytes the
    // cutter accepted. Set before
    // the callback runs, on the thread that runs it; read it there, or once
    // that thread has been joined.
    struct WriteOutcome {
        DWORD error = 0;
        std::uint32_t accepted = 0;
    };
    WriteOutcome LastWrite() const { return lastWrite; }

    boost::asio::io_service& ioService;
    USHORT vendorId = 0;
    USHORT productId = 0;
    std::uint32_t serialNumber = 0;
    // SPDRP_LOCATION_PATHS as read: NUL-terminated strings ended by an empty one.
    platform::LocalBlock<char> locationPaths;
    winusb_stream_handle stream;
    platform::LocalBlock<SP_DEVICE_INTERFACE_DETAIL_DATA_W> interfaceDetail;

  private:
    WriteOutcome lastWrite;
};

}  // namespace QUILL
