// The completion-port implementation of Boost.Asio that the pipe write
// service builds on: Boost.Asio's own on Windows, the emulation on Linux.
#pragma once

#ifdef _WIN32

#include <boost/asio/detail/win_iocp_io_context.hpp>
#include <boost/asio/detail/win_iocp_operation.hpp>

namespace platform {
using iocp_context = boost::asio::detail::win_iocp_io_context;
using iocp_operation = boost::asio::detail::win_iocp_operation;
}  // namespace platform

#else

#include "platform/emu/kernel32/asio_iocp.h"

namespace platform {
using iocp_context = emu::iocp_context;
using iocp_operation = emu::iocp_operation;
}  // namespace platform

#endif
