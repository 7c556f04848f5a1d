// The pipe write service on its own: what the handle-service contract
// promises about completion delivery and handle ownership.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>
#include <boost/asio/error.hpp>
#include <boost/asio/write.hpp>

#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "tests/support/io_thread.h"
#include "usb/winusb_stream_handle.h"

namespace {

struct Result {
    boost::system::error_code ec;
    std::size_t bytes = 0;
    std::thread::id thread;
    int calls = 0;
};

// Opens a connection to `cutter` the way the device does.
winusb_native_handle OpenNative(const emu::VirtualDevice& cutter) {
    winusb_native_handle native = winusb_native_handle::closed();
    native.file_handle = CreateFileW(cutter.DevicePath().c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(native.file_handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WinUsb_Initialize(native.file_handle, &native.winusb_handle));
    native.bulk_in_pipe = 0x81;
    native.bulk_out_pipe = 0x02;
    return native;
}

class WinUsbServiceTest : public testing::Test {
  protected:
    void TearDown() override {
        emu::ClearFaults();
        emu::UnplugAll();
    }

    // Starts one write request and waits until the io_service has run it.
    Result WriteSome(winusb_stream_handle& stream, const void* data, std::size_t size) {
        Result result;
        std::atomic<bool> returned{false};
        stream.async_write_some(boost::asio::buffer(data, size),
                                [&](const boost::system::error_code& ec, std::size_t bytes) {
                                    EXPECT_TRUE(returned)
                                        << "handler ran inside the initiating call";
                                    result.ec = ec;
                                    result.bytes = bytes;
                                    result.thread = std::this_thread::get_id();
                                    ++result.calls;
                                });
        returned = true;
        service.restart();
        service.run();  // returns when the request has been dispatched
        return result;
    }

    boost::asio::io_service service;
    std::shared_ptr<emu::VirtualDevice> cutter = emu::PlugIn({});
};

TEST_F(WinUsbServiceTest, WriteOnAClosedHandleCompletesWithBadDescriptor) {
    winusb_stream_handle stream(service);
    const char byte = 'x';
    const Result result = WriteSome(stream, &byte, 1);
    EXPECT_EQ(result.calls, 1);
    EXPECT_EQ(result.ec, boost::asio::error::bad_descriptor);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_EQ(result.thread, std::this_thread::get_id());  // the thread inside run()
}

TEST_F(WinUsbServiceTest, AssignTwiceKeepsTheFirstConnection) {
    winusb_stream_handle stream(service);
    boost::system::error_code ec;
    const winusb_native_handle first = OpenNative(*cutter);
    stream.assign(first, ec);
    ASSERT_FALSE(ec);

    // Another cutter: each can be open only once.
    const winusb_native_handle second = OpenNative(*emu::PlugIn({}));
    stream.assign(second, ec);
    EXPECT_EQ(ec, boost::asio::error::already_open);
    EXPECT_EQ(ec.message(), "Already open");
    EXPECT_EQ(stream.native_handle().file_handle, first.file_handle);
    // The caller still owns what it passed.
    WinUsb_Free(second.winusb_handle);
    EXPECT_TRUE(CloseHandle(second.file_handle));

    const char bytes[3] = {1, 2, 3};
    EXPECT_EQ(WriteSome(stream, bytes, 3).bytes, 3u);
    stream.close(ec);
}

TEST_F(WinUsbServiceTest, CloseReleasesBothHandlesOnceAndAllowsAssignAgain) {
    winusb_stream_handle stream(service);
    boost::system::error_code ec;
    emu::ClearFaults();
    stream.close(ec);  // closed already: nothing is called
    EXPECT_FALSE(ec);
    EXPECT_EQ(emu::CallCount("WinUsb_Free"), 0u);
    EXPECT_EQ(emu::CallCount("CloseHandle"), 0u);

    stream.assign(OpenNative(*cutter), ec);
    stream.close(ec);
    EXPECT_FALSE(ec);
    EXPECT_FALSE(stream.is_open());
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->OpenInterfaces(), 0);
    EXPECT_EQ(stream.native_handle().bulk_out_pipe, 0x02);  // kept until the next assign

    stream.assign(OpenNative(*cutter), ec);
    ASSERT_FALSE(ec);
    const char bytes[2] = {9, 8};
    EXPECT_EQ(WriteSome(stream, bytes, 2).bytes, 2u);
    stream.close(ec);
}

TEST_F(WinUsbServiceTest, EveryWriteCompletesExactlyOnceWhetherPendingOrImmediate) {
    winusb_stream_handle stream(service);
    boost::system::error_code ec;
    stream.assign(OpenNative(*cutter), ec);
    const std::vector<char> bytes(100, 'a');
    for (bool succeedAtOnce : {false, true}) {
        cutter->SetTiming({std::chrono::microseconds(0), 0, succeedAtOnce});
        for (int i = 0; i < 200; ++i) {
            const Result result = WriteSome(stream, bytes.data(), bytes.size());
            ASSERT_EQ(result.calls, 1);
            ASSERT_FALSE(result.ec);
            ASSERT_EQ(result.bytes, bytes.size());
        }
    }
    EXPECT_EQ(cutter->ReceivedCount(), 400u * bytes.size());
    stream.close(ec);
}

TEST_F(WinUsbServiceTest, DestroyingTheIoServiceDropsPendingHandlersUncalled) {
    auto lifetime = std::make_shared<int>(0);
    bool called = false;
    {
        boost::asio::io_service doomed;
        auto stream = std::make_unique<winusb_stream_handle>(doomed);
        boost::system::error_code ec;
        stream->assign(OpenNative(*cutter), ec);
        cutter->SetTiming({std::chrono::seconds(30), 0, false});
        static const char bytes[4] = {};
        stream->async_write_some(
            boost::asio::buffer(bytes),
            [lifetime, &called](const boost::system::error_code&, std::size_t) { called = true; });
        EXPECT_EQ(lifetime.use_count(), 2);
        // The service closes the handle, which ends the write; the io_service
        // then destroys the handler without running it.
        stream.reset();
    }
    EXPECT_FALSE(called);
    EXPECT_EQ(lifetime.use_count(), 1);
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->OpenInterfaces(), 0);
}

// A cutter that takes a few bytes per request makes async_write start each
// next request on the worker, from the previous one's completion, while the
// user-interface thread may be closing the stream. The request must never
// use the handles close is freeing; the remainder fails as aborted.
TEST_F(WinUsbServiceTest, CloseWhileTheWorkerStartsTheNextRequestAbortsTheRest) {
    cutter->AcceptAtMost(16);
    const std::vector<char> bytes(64 * 1024, 'b');
    for (int round = 0; round < 20; ++round) {
        winusb_stream_handle stream(service);
        boost::system::error_code ec;
        stream.assign(OpenNative(*cutter), ec);
        ASSERT_FALSE(ec);
        std::atomic<int> calls{0};
        boost::system::error_code result;
        const std::uint64_t before = cutter->ReceivedCount();
        service.restart();
        {
            IoThread worker(service);
            boost::asio::async_write(stream, boost::asio::buffer(bytes),
                                     [&](const boost::system::error_code& error, std::size_t) {
                                         result = error;
                                         ++calls;
                                     });
            for (int i = 0; i < 2000 && cutter->ReceivedCount() - before < 256; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            stream.close(ec);
            EXPECT_FALSE(ec);
        }  // joins the worker: every request has completed
        ASSERT_EQ(calls, 1);
        EXPECT_EQ(result, boost::asio::error::operation_aborted) << "round " << round;
        EXPECT_LT(cutter->ReceivedCount() - before, bytes.size());
        EXPECT_EQ(cutter->OpenInterfaces(), 0);
    }
}

}  // namespace
