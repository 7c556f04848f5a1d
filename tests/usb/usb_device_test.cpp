// Opening a cutter, writing whole buffers to it and closing it, against
// virtual cutters that misbehave the ways real ones do.
#include <gtest/gtest.h>
#include <numeric>

#include <boost/system/system_error.hpp>

#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "tests/support/call_recorder.h"
#include "tests/support/device_factory.h"
#include "tests/support/io_thread.h"
#include "tests/support/log_watch.h"

namespace {

const std::string kOpenRecord = "[error]: void __thiscall QUILL::UsbDevice::AsyncOpen(void) - ";

std::vector<unsigned char> Pattern(std::size_t size) {
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return bytes;
}

class UsbDeviceTest : public testing::Test {
  protected:
    void TearDown() override {
        emu::ClearFaults();
        emu::UnplugAll();
    }

    std::shared_ptr<QUILL::UsbDevice> Open(const emu::VirtualDeviceConfig& config) {
        cutter = emu::PlugIn(config);
        auto device = MakeDevice(service, *cutter);
        device->AsyncOpen();
        return device;
    }

    // Writes `bytes` and waits for the one callback.
    CallRecorder::Call Write(QUILL::UsbDevice& device, const std::vector<unsigned char>& bytes) {
        CallRecorder recorder;
        device.AsyncWrite(bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                          recorder.Callback());
        EXPECT_TRUE(recorder.WaitFor(1));
        EXPECT_EQ(recorder.Calls().size(), 1u);
        return recorder.Calls().at(0);
    }

    boost::asio::io_service service;
    IoThread ioThread{service};
    std::shared_ptr<emu::VirtualDevice> cutter;
    LogWatch log;
};

TEST_F(UsbDeviceTest, OpensBulkPipesAndSendsBytesUnchanged) {
    auto device = Open({});
    ASSERT_TRUE(device->IsOpen());
    const auto bytes = Pattern(1024);
    const CallRecorder::Call call = Write(*device, bytes);
    EXPECT_TRUE(call.ok);
    EXPECT_EQ(call.thread, ioThread.Id());
    EXPECT_EQ(cutter->Received(), bytes);
    device->Close();
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->OpenInterfaces(), 0);
    EXPECT_EQ(log.NewRecords(), "");
}

TEST_F(UsbDeviceTest, MissingBulkDirectionIsNotOpened) {
    for (UCHAR onlyPipe : {UCHAR{0x02}, UCHAR{0x81}}) {
        emu::VirtualDeviceConfig config;
        config.endpoints = {{UsbdPipeTypeBulk, onlyPipe}, {UsbdPipeTypeInterrupt, 0x83}};
        auto device = Open(config);
        EXPECT_FALSE(device->IsOpen());
        EXPECT_EQ(cutter->OpenHandles(), 0);
        EXPECT_EQ(cutter->OpenInterfaces(), 0);
        EXPECT_NE(log.NewRecords().find(kOpenRecord + "WinUsb_QueryPipe2 Error\r\r\n failed ("),
                  std::string::npos);
    }
}

TEST_F(UsbDeviceTest, LastBulkOutPipeWinsAndInterruptPipesAreIgnored) {
    emu::VirtualDeviceConfig config;
    config.endpoints = {{UsbdPipeTypeBulk, 0x01},      {UsbdPipeTypeInterrupt, 0x05},
                        {UsbdPipeTypeBulk, 0x81},      {UsbdPipeTypeBulk, 0x03},
                        {UsbdPipeTypeInterrupt, 0x84}, {UsbdPipeTypeInterrupt, 0x06}};
    auto device = Open(config);
    ASSERT_TRUE(device->IsOpen());
    EXPECT_TRUE(Write(*device, Pattern(10)).ok);
    ASSERT_EQ(cutter->Writes().size(), 1u);
    EXPECT_EQ(cutter->Writes()[0].pipe, 0x03);
    EXPECT_EQ(device->stream.native_handle().bulk_in_pipe, 0x81);
}

TEST_F(UsbDeviceTest, OpeningAnOpenDeviceKeepsTheFirstConnection) {
    auto device = Open({});
    ASSERT_TRUE(device->IsOpen());
    log.NewRecords();
    device->AsyncOpen();  // the device is exclusive: the second open is refused
    EXPECT_TRUE(device->IsOpen());
    EXPECT_NE(log.NewRecords().find("[error]: void __thiscall QUILL::UsbDevice::AsyncOpen(void) "
                                    "- CreateFile PIPE Error\r\r\n failed (5)\r\n"),
              std::string::npos);
    EXPECT_EQ(cutter->OpenHandles(), 1);  // the second connection was released
    EXPECT_TRUE(Write(*device, Pattern(100)).ok);
    EXPECT_EQ(cutter->ReceivedCount(), 100u);
}

TEST_F(UsbDeviceTest, EachFailingOpenStepIsLoggedAndReleasesEverything) {
    struct Step {
        const char* function;
        const char* message;
    } steps[] = {
        {"CreateFileW", "CreateFile PIPE Error\r\r\n failed (5)"},
        {"WinUsb_Initialize", "WinUsb_Initialize Error\r\r\n failed (5)"},
        {"WinUsb_QueryInterfaceSettings", "WinUsb_QueryInterfaceSettings Error\r\r\n failed (5)"},
        {"WinUsb_QueryPipe", "WinUsb_QueryPipe Error\r\r\n failed (5)"},
        {"CreateIoCompletionPort",
         "[warning]: void __thiscall QUILL::UsbDevice::AsyncOpen(void) - "},
    };
    cutter = emu::PlugIn({});
    auto device = MakeDevice(service, *cutter);
    for (const Step& step : steps) {
        emu::FailCall(step.function, 1, ERROR_ACCESS_DENIED);
        device->AsyncOpen();
        EXPECT_FALSE(device->IsOpen()) << step.function;
        EXPECT_EQ(cutter->OpenHandles(), 0) << step.function;
        EXPECT_EQ(cutter->OpenInterfaces(), 0) << step.function;
        EXPECT_NE(log.NewRecords().find(step.message), std::string::npos) << step.function;
        // As the transfer does: an immediate second attempt starts clean.
        device->AsyncOpen();
        EXPECT_TRUE(device->IsOpen()) << step.function;
        device->Close();
    }
}

TEST_F(UsbDeviceTest, ClosingAClosedDeviceDoesNothing) {
    cutter = emu::PlugIn({});
    auto device = MakeDevice(service, *cutter);
    emu::ClearFaults();
    EXPECT_NO_THROW(device->Close());
    EXPECT_EQ(emu::CallCount("WinUsb_Free"), 0u);
    EXPECT_EQ(emu::CallCount("CloseHandle"), 0u);
}

TEST_F(UsbDeviceTest, WriteOnAClosedDeviceFailsBeforeReturning) {
    cutter = emu::PlugIn({});
    auto device = MakeDevice(service, *cutter);
    CallRecorder recorder;
    const unsigned char byte = 0;
    device->AsyncWrite(&byte, 1, recorder.Callback());
    ASSERT_EQ(recorder.Calls().size(), 1u);  // already, without waiting
    EXPECT_FALSE(recorder.Calls()[0].ok);
    EXPECT_EQ(recorder.Calls()[0].thread, std::this_thread::get_id());
}

TEST_F(UsbDeviceTest, ZeroLengthWriteSucceedsOnTheIoThreadWithoutAPipeWrite) {
    auto device = Open({});
    const CallRecorder::Call call = Write(*device, {});
    EXPECT_TRUE(call.ok);
    EXPECT_EQ(call.thread, ioThread.Id());
    EXPECT_EQ(cutter->WriteCount(), 0u);
}

TEST_F(UsbDeviceTest, LargeWriteIsSplitIntoRequestsOfAtMost64KiB) {
    auto device = Open({});
    const auto bytes = Pattern(70000);
    EXPECT_TRUE(Write(*device, bytes).ok);
    const auto writes = cutter->Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size, 65536u);
    EXPECT_EQ(writes[1].size, 4464u);
    EXPECT_EQ(cutter->Received(), bytes);
}

TEST_F(UsbDeviceTest, ShortWritesAreFollowedByWritesOfTheRest) {
    auto device = Open({});
    cutter->AcceptAtMost(1000);
    const auto bytes = Pattern(2500);
    EXPECT_TRUE(Write(*device, bytes).ok);
    const auto writes = cutter->Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].size, 2500u);
    EXPECT_EQ(writes[1].size, 1500u);
    EXPECT_EQ(writes[2].size, 500u);
    EXPECT_EQ(cutter->Received(), bytes);
}

// The write ends there, so the cutter never got the rest: not a success.
TEST_F(UsbDeviceTest, ZeroByteCompletionEndsTheWriteAsFailure) {
    auto device = Open({});
    cutter->FailWrite(1, 0);  // completes with success and no bytes
    EXPECT_FALSE(Write(*device, Pattern(1024)).ok);
    EXPECT_EQ(cutter->WriteCount(), 1u);
    EXPECT_EQ(cutter->ReceivedCount(), 0u);
    EXPECT_EQ(device->LastWrite().error, 0u);  // no error came: the outcome says so
    EXPECT_EQ(device->LastWrite().accepted, 0u);

    // After a short request, the outcome counts what the cutter did take.
    cutter->AcceptAtMost(1000);
    cutter->FailWrite(3, 0);
    EXPECT_FALSE(Write(*device, Pattern(2500)).ok);
    EXPECT_EQ(device->LastWrite().accepted, 1000u);
}

TEST_F(UsbDeviceTest, FailedRequestsEndTheWriteAsFailure) {
    auto device = Open({});
    cutter->FailWrite(1, ERROR_GEN_FAILURE);                   // through the port
    cutter->FailWrite(2, ERROR_SEM_TIMEOUT, /*atOnce=*/true);  // from WinUsb_WritePipe
    cutter->AcceptAtMost(600);
    const CallRecorder::Call first = Write(*device, Pattern(1024));
    const CallRecorder::Call second = Write(*device, Pattern(1024));
    EXPECT_FALSE(first.ok);
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(second.thread, ioThread.Id());  // even an immediate failure
    EXPECT_EQ(cutter->WriteCount(), 2u);
    EXPECT_TRUE(Write(*device, Pattern(1024)).ok);
}

TEST_F(UsbDeviceTest, UnpluggedCutterFailsWritesInFlightAndLater) {
    auto device = Open({});
    cutter->SetTiming({std::chrono::seconds(30), 0, false});
    CallRecorder recorder;
    const auto bytes = Pattern(1024);
    device->AsyncWrite(bytes.data(), 1024, recorder.Callback());
    emu::Unplug(cutter);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_FALSE(recorder.Calls()[0].ok);
    EXPECT_FALSE(Write(*device, bytes).ok);
    EXPECT_NO_THROW(device->Close());
}

TEST_F(UsbDeviceTest, CloseWhileAWriteIsOutstandingStillCallsBackOnce) {
    auto device = Open({});
    cutter->SetTiming({std::chrono::seconds(30), 0, false});
    CallRecorder recorder;
    const auto bytes = Pattern(1024);
    device->AsyncWrite(bytes.data(), 1024, recorder.Callback());
    device->Close();
    ASSERT_TRUE(recorder.WaitFor(1));
    const std::thread::id ioThreadId = ioThread.Id();
    ioThread.Stop();  // run() returns only when nothing is outstanding
    ASSERT_EQ(recorder.Calls().size(), 1u);
    EXPECT_FALSE(recorder.Calls()[0].ok);
    EXPECT_EQ(recorder.Calls()[0].thread, ioThreadId);
}

TEST_F(UsbDeviceTest, FailedCloseThrowsButLeavesTheDeviceClosed) {
    auto device = Open({});
    cutter->FailClose(ERROR_GEN_FAILURE);
    try {
        device->Close();
        FAIL() << "Close did not throw";
    } catch (const boost::system::system_error& error) {
        EXPECT_EQ(error.code().value(), static_cast<int>(ERROR_GEN_FAILURE));
        EXPECT_NE(std::string(error.what()).find("close"), std::string::npos);
    }
    EXPECT_FALSE(device->IsOpen());
    EXPECT_EQ(cutter->OpenHandles(), 0);
}

TEST_F(UsbDeviceTest, DestructorSwallowsAFailedCloseAndFreesEverything) {
    { winusb_stream_handle createsTheServiceAndItsPort(service); }
    const std::size_t blocksBefore = emu::LiveLocalBlocks();
    const std::size_t handlesBefore = emu::OpenHandleCount();
    {
        auto device = Open({});
        ASSERT_TRUE(device->IsOpen());
        cutter->FailClose(ERROR_GEN_FAILURE);
        EXPECT_NO_THROW(device.reset());
    }
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->OpenInterfaces(), 0);
    EXPECT_EQ(emu::LiveLocalBlocks(), blocksBefore);
    EXPECT_EQ(emu::OpenHandleCount(), handlesBefore);
}

}  // namespace
