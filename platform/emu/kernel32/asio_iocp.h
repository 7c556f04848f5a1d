// The completion-port half of Boost.Asio's Windows I/O service, emulated for
// Linux on top of the io_service's own scheduler. It offers the members that
// a Windows handle service uses (register a handle, count work, hand over a
// pending operation, complete an operation) with the same guarantees: each
// operation completes exactly once, on a thread inside run(), never inside
// the call that started it.
#pragma once

#include <atomic>
#include <memory>

#include <boost/asio/detail/scheduler.hpp>
#include <boost/asio/detail/scheduler_operation.hpp>
#include <boost/asio/execution_context.hpp>
#include <boost/system/error_code.hpp>

#include "platform/emu/kernel32/completion_port.h"
#include "platform/emu/win_types.h"

namespace emu {

class iocp_context;

// Base of every operation whose completion arrives through the port: the
// OVERLAPPED block comes first, as in Boost.Asio's own operation base.
class iocp_operation : public OVERLAPPED, private boost::asio::detail::scheduler_operation {
  public:
    void complete(void* owner, const boost::system::error_code& ec, std::size_t bytes) {
        func_(owner, this, ec, bytes);
    }
    void destroy() { func_(nullptr, this, boost::system::error_code(), 0); }

  protected:
    typedef void (*func_type)(void*, iocp_operation*, const boost::system::error_code&,
                              std::size_t);

    explicit iocp_operation(func_type func);
    ~iocp_operation() = default;

  private:
    friend class iocp_context;

    // The scheduler's entry point: completes (or, without an owner,
    // destroys) the operation with the result stored in it.
    static void Dispatch(void* owner, boost::asio::detail::scheduler_operation* base,
                         const boost::system::error_code&, std::size_t);

    func_type func_;
    std::atomic<long> ready_;
    boost::system::error_code result_;
    std::size_t bytes_ = 0;
};

class iocp_context : public boost::asio::detail::execution_context_service_base<iocp_context> {
  public:
    explicit iocp_context(boost::asio::execution_context& context);
    ~iocp_context();

    // Waits for I/O still in flight on bound handles, so that every
    // operation is either dispatched or destroyed by the scheduler.
    void shutdown() override;

    // Binds `handle` to the port (CreateIoCompletionPort with key 0).
    boost::system::error_code register_handle(HANDLE handle, boost::system::error_code& ec);

    void work_started() { scheduler_.work_started(); }

    // The initiating call returned with the operation pending: dispatch it
    // now if its packet arrived already, otherwise when it arrives.
    void on_pending(iocp_operation* op);

    // The result is known at once; it is still dispatched later, inside run().
    void on_completion(iocp_operation* op, DWORD last_error = 0, DWORD bytes_transferred = 0);
    void on_completion(iocp_operation* op, const boost::system::error_code& ec,
                       DWORD bytes_transferred = 0);

  private:
    void OnPacket(const CompletionPacket& packet);
    void Post(iocp_operation* op);

    boost::asio::detail::scheduler& scheduler_;
    std::shared_ptr<CompletionPort> port_;
    HANDLE portHandle_;
};

}  // namespace emu
