// One overlapped write request: the OVERLAPPED block (in the completion-port
// operation base), the buffer and the handler.
#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/detail/bind_handler.hpp>
#include <boost/asio/detail/fenced_block.hpp>
#include <boost/asio/detail/handler_alloc_helpers.hpp>
#include <boost/asio/detail/handler_work.hpp>
#include <boost/asio/detail/memory.hpp>

#include "platform/asio_iocp.h"

template <typename Handler, typename IoExecutor>
class winusb_write_operation : public platform::iocp_operation {
  public:
    BOOST_ASIO_DEFINE_HANDLER_PTR(winusb_write_operation);

    winusb_write_operation(const boost::asio::const_buffer& buffer, Handler& handler,
                           const IoExecutor& io_ex)
        : platform::iocp_operation(&winusb_write_operation::do_complete),
          buffer_(buffer),
          handler_(static_cast<Handler&&>(handler)),
          work_(handler_, io_ex) {}

    // Called once: with an owner to deliver the result, without one (the I/O
    // service is going away) to destroy the handler uncalled.
    static void do_complete(void* owner, platform::iocp_operation* base,
                            const boost::system::error_code& result_ec,
                            std::size_t bytes_transferred) {
        auto* o = static_cast<winusb_write_operation*>(base);
        ptr p = {boost::asio::detail::addressof(o->handler_), o, o};
        boost::asio::detail::handler_work<Handler, IoExecutor> w(
            static_cast<boost::asio::detail::handler_work<Handler, IoExecutor>&&>(o->work_));

        // The operation's memory goes back before the upcall, so that the
        // handler may start the next write with it.
        boost::asio::detail::binder2<Handler, boost::system::error_code, std::size_t> handler(
            o->handler_, result_ec, bytes_transferred);
        p.h = boost::asio::detail::addressof(handler.handler_);
        p.reset();

        if (owner) {
            boost::asio::detail::fenced_block b(boost::asio::detail::fenced_block::half);
            w.complete(handler, handler.handler_);
        }
    }

  private:
    boost::asio::const_buffer buffer_;
    Handler handler_;
    boost::asio::detail::handler_work<Handler, IoExecutor> work_;
};
