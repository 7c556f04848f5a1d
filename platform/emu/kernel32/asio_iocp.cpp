#include "platform/emu/kernel32/asio_iocp.h"

#include <boost/asio/error.hpp>

#include "platform/emu/kernel32/kernel_api.h"

namespace emu {

iocp_operation::iocp_operation(func_type func)
    : OVERLAPPED(), scheduler_operation(&iocp_operation::Dispatch), func_(func), ready_(0) {}

void iocp_operation::Dispatch(void* owner, boost::asio::detail::scheduler_operation* base,
                              const boost::system::error_code&, std::size_t) {
    auto* op = static_cast<iocp_operation*>(base);
    if (owner == nullptr) {
        op->destroy();
        return;
    }
    const boost::system::error_code result = op->result_;
    op->complete(owner, result, op->bytes_);
}

iocp_context::iocp_context(boost::asio::execution_context& context)
    : execution_context_service_base<iocp_context>(context),
      scheduler_(boost::asio::use_service<boost::asio::detail::scheduler>(context)),
      portHandle_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0)) {
    port_ = LookupHandleAs<CompletionPort>(portHandle_);
    if (!port_) {
        boost::system::error_code ec(GetLastError(), boost::system::system_category());
        boost::asio::detail::throw_error(ec, "iocp");
    }
    port_->SetListener([this](const CompletionPacket& packet) { OnPacket(packet); });
}

iocp_context::~iocp_context() {
    port_->SetListener(nullptr);
    CloseHandle(portHandle_);
}

void iocp_context::shutdown() {
    // Closing the handles (the handle services shut down first) aborts their
    // I/O; its packets arrive promptly and go to the scheduler, which
    // destroys them in its own shutdown.
    port_->WaitForIdle(std::chrono::seconds(10));
}

boost::system::error_code iocp_context::register_handle(HANDLE handle,
                                                        boost::system::error_code& ec) {
    if (CreateIoCompletionPort(handle, portHandle_, 0, 0) == nullptr) {
        ec = boost::system::error_code(GetLastError(), boost::system::system_category());
    } else {
        ec = boost::system::error_code();
    }
    return ec;
}

void iocp_context::on_pending(iocp_operation* op) {
    long expected = 0;
    // Whoever comes second, the initiating call or the packet, dispatches.
    if (!op->ready_.compare_exchange_strong(expected, 1)) Post(op);
}

void iocp_context::on_completion(iocp_operation* op, DWORD last_error, DWORD bytes_transferred) {
    on_completion(
        op,
        boost::system::error_code(static_cast<int>(last_error), boost::system::system_category()),
        bytes_transferred);
}

void iocp_context::on_completion(iocp_operation* op, const boost::system::error_code& ec,
                                 DWORD bytes_transferred) {
    op->ready_ = 1;
    op->result_ = ec;
    op->bytes_ = bytes_transferred;
    Post(op);
}

void iocp_context::OnPacket(const CompletionPacket& packet) {
    auto* op = static_cast<iocp_operation*>(packet.overlapped);
    op->result_ =
        boost::system::error_code(static_cast<int>(packet.error), boost::system::system_category());
    op->bytes_ = packet.bytes;
    long expected = 0;
    if (!op->ready_.compare_exchange_strong(expected, 1)) Post(op);
}

void iocp_context::Post(iocp_operation* op) {
    scheduler_.post_deferred_completion(op);
}

}  // namespace emu
