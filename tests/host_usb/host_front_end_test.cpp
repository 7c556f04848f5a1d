// The whole program (wWinMain and the scripted desktop) against emulated
// cutters reached through libusb, as on a machine with real ones.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "app/front_end_state.h"
#include "platform/emu/control.h"
#include "resources/resource.h"
#include "tests/host_usb/emulated_usb.h"
#include "tests/host_usb/without_file_override.h"
#include "tests/support/job_pattern.h"
#include "tests/support/log_watch.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"
#include "usb/usb_device.h"
#include "usb/usb_listener.h"

namespace {

using emulated_usb::DeviceConfig;

constexpr char kSendError[] = "An error occurred while sending data";

class RealCutters : public testing::Test {
  protected:
    void SetUp() override {
        emu::UseScriptedDesktop();
        SelectedCutterIndex = -1;
        // The listener's completion port is a handle for the life of the
        // process: made here, it is not counted as the run's.
        QUILL::UsbDevice{usbListener.ioService};
        handlesBefore = emu::OpenHandleCount();
    }
    void TearDown() override {
        usbListener.connectedCutters.clear();
        emulated_usb::UnplugAll();
    }

    int Run(const std::string& job = "") {
        return RunProgram(
            Wide(job),
            "wWinMain of " +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()),
            std::chrono::seconds(60));
    }

    static std::shared_ptr<emulated_usb::Device> Cutter(int port, const std::string& serial,
                                                        std::uint16_t product = 0x4C01) {
        DeviceConfig config;
        config.port = port;
        config.serial = serial;
        config.productId = product;
        return emulated_usb::Plug(config);
    }

    std::string MakeJob(std::size_t size) {
        WriteWholeFile(jobs / "job.plt", JobPattern(size));
        return jobs / "job.plt";
    }

    static std::vector<std::string> MessageTexts() {
        std::vector<std::string> texts;
        for (const auto& box : emu::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    // Every handle the run opened is closed again (the listener's cutters
    // hold none while closed).
    void ExpectNoLeak() {
        usbListener.connectedCutters.clear();
        EXPECT_EQ(emu::OpenHandleCount(), handlesBefore);
    }

    TempFolder jobs;
    LogWatch log;
    std::size_t handlesBefore = 0;
};

TEST_F(RealCutters, CuttersAreListedInPortOrderByModelAndSerialWithoutOtherDevices) {
    Cutter(3, "1A3", 0x4C05);
    DeviceConfig other;
    other.vendorId = 0x1234;
    other.productId = 0x5678;
    other.port = 1;
    auto phone = emulated_usb::Plug(other);
    Cutter(2, "1A2");
    emu::ScriptFileDialog({emu::PressCancel()});
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(phone->ControlRequests(), 0);
    const auto dialogs = emu::FileDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].views.at(0).Control(IDC_OUTPUT)->items,
              (std::vector<std::wstring>{L"MERLIN (#1A2)", L"MERLIN2 (#1A3)"}));
}

TEST_F(RealCutters, StallInTheMiddleIsReportedAndLogged) {
    auto cutter = Cutter(1, "1A2");
    cutter->StallWrite(50);
    EXPECT_EQ(Run(MakeJob(100 * 1024)), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kSendError});
    EXPECT_EQ(log.NewRecords().substr(20),
              "[error]: bool __cdecl TransferFile(const wchar_t *,class std::shared_ptr<class "
              "QUILL::UsbDevice>) - WinUsb_WritePipe failed (31) after 50176 of 102400 bytes (A "
              "device attached to the system is not functioning.\r\r\n)\r\n");
    EXPECT_EQ(cutter->ReceivedCount(), 49u * 1024);
    ExpectNoLeak();
}

// A signal (Ctrl+C, a closed terminal, a kill) during a transfer is the
// Cancel button: the write in flight ends and the printer driver gets the
// cutter back.
TEST_F(RealCutters, SignalDuringATransferEndsItAsCancel) {
    DeviceConfig config;
    config.serial = "1A2";
    config.driver = "usblp";
    auto cutter = emulated_usb::Plug(config);
    cutter->StopReadingAfter(30);
    emu::ScriptProgress(30, {emu::Call([] { std::raise(SIGTERM); })});
    EXPECT_EQ(Run(MakeJob(100 * 1024)), 1);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(cutter->PendingWrites(), 0);
    EXPECT_TRUE(cutter->DriverBound());
    EXPECT_EQ(log.NewRecords().substr(20),
              "[warning]: void __cdecl OnInterrupt(int) - Interrupted (signal 15): ended as "
              "Cancel\r\n");
    ExpectNoLeak();
}

TEST_F(RealCutters, UnconfiguredCutterIsNotReadyAndTheFailureIsLogged) {
    DeviceConfig config;
    config.serial = "1A2";
    config.configured = false;
    emulated_usb::Plug(config);
    EXPECT_EQ(Run(MakeJob(1000)), 1);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"Unable to estabilish communication with the device"});
    const std::string records = log.NewRecords();
    EXPECT_NE(records.find("[error]: void __thiscall QUILL::UsbDevice::AsyncOpen(void) - "
                           "WinUsb_Initialize Error\r\r\n failed (21)\r\n"),
              std::string::npos)
        << records;
    ExpectNoLeak();
}

TEST_F(RealCutters, CutterWithoutPermissionCannotBeOpenedAndTheUserIsTold) {
    DeviceConfig config;
    config.serial = "1A2";
    config.accessible = false;
    emulated_usb::Plug(config);
    const std::string job = MakeJob(1000);
    int exitCode = -1;
    {
        const WithoutFileOverride asUser;  // this thread opens the cutter
        exitCode = Run(job);
    }
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"Unable to estabilish communication with the device"});
    const std::string records = log.NewRecords();
    EXPECT_NE(records.find("[error]: void __thiscall QUILL::UsbDevice::AsyncOpen(void) - "
                           "CreateFile PIPE Error\r\r\n failed (5)\r\n"),
              std::string::npos)
        << records;
    ExpectNoLeak();
}

}  // namespace
