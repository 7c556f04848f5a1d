// The write service's mutex cannot be made: the I/O object cannot be built,
// and nothing half-built is left behind. A test program of its own, because
// it stands in for pthread_mutex_init for the whole process.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <dlfcn.h>
#include <pthread.h>

#include <boost/system/system_error.hpp>

#include "platform/asio_iocp.h"
#include "usb/winusb_stream_handle.h"

namespace {
std::atomic<bool> failNextMutex{false};
}  // namespace

// Fails once when armed, as the system does when it is out of resources.
extern "C" int pthread_mutex_init(pthread_mutex_t* mutex, const pthread_mutexattr_t* attributes) {
    using Init = int (*)(pthread_mutex_t*, const pthread_mutexattr_t*);
    static const Init real = reinterpret_cast<Init>(dlsym(RTLD_NEXT, "pthread_mutex_init"));
    if (failNextMutex.exchange(false)) return EAGAIN;
    return real(mutex, attributes);
}

namespace {

TEST(WriteServiceMutex, FailureToMakeItThrowsAndTheServiceCanBeMadeLater) {
    boost::asio::io_service service;
    boost::asio::use_service<platform::iocp_context>(service);  // its own mutexes first
    failNextMutex = true;
    try {
        winusb_stream_handle stream(service);
        ADD_FAILURE() << "the stream was built without its service's mutex";
    } catch (const boost::system::system_error& failure) {
        EXPECT_EQ(failure.code().value(), EAGAIN);
        EXPECT_EQ(std::string(failure.what()).rfind("mutex", 0), 0u) << failure.what();
    }
    EXPECT_FALSE(failNextMutex) << "no mutex was made";
    winusb_stream_handle later(service);  // the registry kept no broken service
    EXPECT_FALSE(later.is_open());
}

}  // namespace
