#include "usb/winusb_stream_handle_service.h"

#include <boost/asio/error.hpp>

winusb_stream_handle_service::winusb_stream_handle_service(boost::asio::io_service& io_service)
    : boost::asio::detail::service_base<winusb_stream_handle_service>(io_service),
      iocp_service(boost::asio::use_service<platform::iocp_context>(io_service)),
      mutex(),
      impl_list(nullptr) {}

winusb_stream_handle_service::~winusb_stream_handle_service() = default;

void winusb_stream_handle_service::shutdown_service() {
    boost::asio::detail::mutex::scoped_lock lock(mutex);
    for (implementation_type* impl = impl_list; impl != nullptr; impl = impl->next) {
        close_for_destruction(*impl);
    }
}

void winusb_stream_handle_service::close_for_destruction(implementation_type& impl) {
    boost::asio::detail::mutex::scoped_lock lock(impl.handle_mutex);
    if (!is_open(impl)) return;
    // The WinUSB handle is released too: nobody else is left to free it.
    if (impl.handle.winusb_handle != nullptr) WinUsb_Free(impl.handle.winusb_handle);
    CloseHandle(impl.handle.file_handle);
    impl.handle = winusb_native_handle::closed();
}

void winusb_stream_handle_service::construct(implementation_type& impl) {
    impl.handle = winusb_native_handle::closed();
    boost::asio::detail::mutex::scoped_lock lock(mutex);
    impl.next = impl_list;
    impl.prev = nullptr;
    if (impl_list != nullptr) impl_list->prev = &impl;
    impl_list = &impl;
}

void winusb_stream_handle_service::destroy(implementation_type& impl) {
    close_for_destruction(impl);
    boost::asio::detail::mutex::scoped_lock lock(mutex);
    if (impl_list == &impl) impl_list = impl.next;
    if (impl.prev != nullptr) impl.prev->next = impl.next;
    if (impl.next != nullptr) impl.next->prev = impl.prev;
    impl.next = nullptr;
    impl.prev = nullptr;
}

boost::system::error_code winusb_stream_handle_service::assign(implementation_type& impl,
                                                               const native_handle_type& native,
                                                               boost::system::error_code& ec) {
    boost::asio::detail::mutex::scoped_lock lock(impl.handle_mutex);
    if (is_open(impl)) {
        ec = boost::asio::error::already_open;
        return ec;
    }
    if (iocp_service.register_handle(native.file_handle, ec)) return ec;
    impl.handle = native;
    impl.closed_while_assigned = false;
    ec = boost::system::error_code();
    return ec;
}

boost::system::error_code winusb_stream_handle_service::close(implementation_type& impl,
                                                              boost::system::error_code& ec) {
    ec = boost::system::error_code();
    boost::asio::detail::mutex::scoped_lock lock(impl.handle_mutex);
    if (!is_open(impl)) return ec;
    impl.closed_while_assigned = true;
    // A write in flight ends now, whether or not the close below works:
    // a handle that fails to close keeps its requests, and a cutter that
    // stopped reading would never complete one.
    CancelIoEx(impl.handle.file_handle, nullptr);
    if (impl.handle.winusb_handle != nullptr) {
        WinUsb_Free(impl.handle.winusb_handle);
        impl.handle.winusb_handle = nullptr;
    }
    if (!CloseHandle(impl.handle.file_handle)) {
        ec = boost::system::error_code(static_cast<int>(GetLastError()),
                                       boost::system::system_category());
    }
    // The pipe IDs stay until the next assign.
    impl.handle.file_handle = INVALID_HANDLE_VALUE;
    return ec;
}

void winusb_stream_handle_service::start_write_op(implementation_type& impl,
                                                  const boost::asio::const_buffer& buffer,
                                                  platform::iocp_operation* op) {
    // Outstanding until its completion has been dispatched, so run() does
    // not return while a write is in flight.
    iocp_service.work_started();

    boost::asio::detail::mutex::scoped_lock lock(impl.handle_mutex);
    if (!is_open(impl)) {
        iocp_service.on_completion(
            op, impl.closed_while_assigned
                    ? boost::system::error_code(boost::asio::error::operation_aborted)
                    : boost::system::error_code(boost::asio::error::bad_descriptor));
    } else if (buffer.size() == 0) {
        iocp_service.on_completion(op);
    } else {
        op->Offset = 0;
        op->OffsetHigh = 0;
        ULONG bytes_transferred = 0;
        const BOOL ok = WinUsb_WritePipe(impl.handle.winusb_handle, impl.handle.bulk_out_pipe,
                                         static_cast<PUCHAR>(const_cast<void*>(buffer.data())),
                                         static_cast<ULONG>(buffer.size()), &bytes_transferred, op);
        const DWORD last_error = GetLastError();
        if (!ok && last_error != ERROR_IO_PENDING && last_error != ERROR_MORE_DATA) {
            iocp_service.on_completion(op, last_error, bytes_transferred);
        } else {
            // Even a write that succeeded at once completes through the port.
            iocp_service.on_pending(op);
        }
    }
}
