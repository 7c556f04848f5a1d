// The I/O object of one cutter connection: an AsyncWriteStream over
// winusb_stream_handle_service, so that boost::asio::async_write drives it.
#pragma once

#include <boost/asio/async_result.hpp>
#include <boost/asio/basic_io_object.hpp>
#include <boost/asio/detail/non_const_lvalue.hpp>

#include "usb/winusb_stream_handle_service.h"

class winusb_stream_handle : public boost::asio::basic_io_object<winusb_stream_handle_service> {
  public:
    typedef winusb_native_handle native_handle_type;

    explicit winusb_stream_handle(boost::asio::io_service& io_service)
        : boost::asio::basic_io_object<winusb_stream_handle_service>(io_service) {}

    bool is_open() const { return get_service().is_open(get_implementation()); }

    native_handle_type native_handle() const {
        return get_service().native_handle(get_implementation());
    }

    boost::system::error_code assign(const native_handle_type& native,
                                     boost::system::error_code& ec) {
        return get_service().assign(get_implementation(), native, ec);
    }

    boost::system::error_code close(boost::system::error_code& ec) {
        return get_service().close(get_implementation(), ec);
    }

    template <typename ConstBufferSequence, typename WriteToken>
    auto async_write_some(const ConstBufferSequence& buffers, WriteToken&& token) {
        return boost::asio::async_initiate<WriteToken,
                                           void(boost::system::error_code, std::size_t)>(
            initiate_async_write_some(this), token, buffers);
    }

  private:
    class initiate_async_write_some {
      public:
        typedef boost::asio::io_service::executor_type executor_type;

        explicit initiate_async_write_some(winusb_stream_handle* self) : self_(self) {}

        executor_type get_executor() const noexcept { return self_->get_executor(); }

        template <typename WriteHandler, typename ConstBufferSequence>
        void operator()(WriteHandler&& handler, const ConstBufferSequence& buffers) const {
            boost::asio::detail::non_const_lvalue<WriteHandler> handler2(handler);
            self_->get_service().async_write_some(self_->get_implementation(), buffers,
                                                  handler2.value, self_->get_executor());
        }

      private:
        winusb_stream_handle* self_;
    };
};
