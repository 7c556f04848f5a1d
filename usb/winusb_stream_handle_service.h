// A Boost.Asio I/O service for WinUSB bulk-out pipes, in the shape of
// Boost.Asio's own Windows handle service: each write is an overlapped
// WinUsb_WritePipe whose completion comes back through the I/O service's
// completion port and runs its handler inside io_service::run.
#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/detail/buffer_sequence_adapter.hpp>
#include <boost/asio/detail/mutex.hpp>
#include <boost/asio/io_service.hpp>
#include <boost/system/error_code.hpp>

#include "platform/asio_iocp.h"
#include "usb/winusb_native_handle.h"
#include "usb/winusb_write_operation.h"

class winusb_stream_handle_service
    : public boost::asio::detail::service_base<winusb_stream_handle_service> {
  public:
    typedef winusb_native_handle native_handle_type;

    // The state of one I/O object.
    class implementation_type {
      public:
        implementation_type()
            : handle(winusb_native_handle::closed()), next(nullptr), prev(nullptr) {}

      private:
        friend class winusb_stream_handle_service;
        native_handle_type handle;
        // Held while close frees the handles and while a write request uses
        // them: the next request of a partly written buffer starts on the
        // thread that runs the service, while close runs on the caller's.
        boost::asio::detail::mutex handle_mutex;
        // Closed after it was open: requests started since fail as aborted.
        bool closed_while_assigned = false;
        // Links of the service's list of every live implementation.
        implementation_type* next;
        implementation_type* prev;
    };

    explicit winusb_stream_handle_service(boost::asio::io_service& io_service);
    ~winusb_stream_handle_service() override;

    void construct(implementation_type& impl);
    // Releases the handles of an implementation still open, and unlinks it.
    void destroy(implementation_type& impl);

    bool is_open(const implementation_type& impl) const {
        return impl.handle.file_handle != INVALID_HANDLE_VALUE;
    }
    native_handle_type native_handle(const implementation_type& impl) const { return impl.handle; }

    // Takes over an opened connection: binds its file handle to the
    // completion port. Fails with already_open when `impl` is open.
    boost::system::error_code assign(implementation_type& impl, const native_handle_type& native,
                                     boost::system::error_code& ec);

    // Frees the WinUSB handle and closes the file handle. The implementation
    // is closed afterwards even when closing the file handle fails. Safe
    // while the thread that runs the service starts the next request of a
    // write: that request, and any later one, fails with operation_aborted.
    boost::system::error_code close(implementation_type& impl, boost::system::error_code& ec);

    // Starts one write request on the bulk-out pipe. The handler is called
    // later, inside run(), with the error and the bytes written; never from
    // within this call.
    template <typename ConstBufferSequence, typename Handler, typename IoExecutor>
    void async_write_some(implementation_type& impl, const ConstBufferSequence& buffers,
                          Handler& handler, const IoExecutor& io_ex) {
        typedef winusb_write_operation<Handler, IoExecutor> op;
        const boost::asio::const_buffer buffer =
            boost::asio::detail::buffer_sequence_adapter<boost::asio::const_buffer,
                                                         ConstBufferSequence>::first(buffers);
        typename op::ptr p = {boost::asio::detail::addressof(handler), op::ptr::allocate(handler),
                              0};
        p.p = new (p.v) op(buffer, handler, io_ex);
        start_write_op(impl, buffer, p.p);
        p.v = p.p = 0;
    }

  private:
    // Called when the I/O service is destroyed: closes every handle still
    // open, so that outstanding writes complete.
    void shutdown_service() override;

    // Releases both handles of an open implementation, ignoring failures.
    void close_for_destruction(implementation_type& impl);

    void start_write_op(implementation_type& impl, const boost::asio::const_buffer& buffer,
                        platform::iocp_operation* op);

    platform::iocp_context& iocp_service;
    boost::asio::detail::mutex mutex;  // guards impl_list only
    implementation_type* impl_list;
};
