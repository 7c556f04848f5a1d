// Sending the file: chunks, progress, the cutter's failures and Cancel.
#include <algorithm>
#include <atomic>
#include <thread>
#include <stdexcept>

#include <csignal>
#include <future>
#include <memory>

#include <boost/asio/post.hpp>

#include "platform/emu/user32/interrupts.h"
#include "tests/app/front_end_fixture.h"

namespace {

constexpr char kSendError[] = "An error occurred while sending data";

TEST_F(FrontEnd, EmptyFileIsRefusedBeforeTheCutterIsOpened) {
    auto cutter = PlugCutter(1, "01");
    const std::string job = MakeJob(0);
    EXPECT_EQ(Run(Wide(job)), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"The selected file is empty"});
    EXPECT_EQ(emu::CallCount("WinUsb_Initialize"), 0u);
    EXPECT_TRUE(emu::ShownDialogs().empty());
    EXPECT_TRUE(IsClosed(job));
    ExpectWarningBoxes();
}

TEST_F(FrontEnd, MissingFileShowsTheSystemText) {
    PlugCutter(1, "01");
    EXPECT_EQ(Run(Wide(jobs / "missing.plt")), 1);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{
                  "Unable to open the file (The system cannot find the file specified.\r\n)"});
}

TEST_F(FrontEnd, ChunksOf1024BytesWithProgressPerChunk) {
    auto cutter = PlugCutter(1, "01");
    const std::string job = MakeJob(1025);
    EXPECT_EQ(Run(Wide(job)), 0);
    const auto writes = cutter->Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size, 1024u);
    EXPECT_EQ(writes[1].size, 1u);
    EXPECT_EQ(emu::ProgressPositions(), (std::vector<int>{99, 100}));
    EXPECT_TRUE(Received(*cutter) == ReadWholeFile(job)) << "bytes differ";

    // The progress dialog as the user saw it.
    const auto dialogs = emu::ShownDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].templateId, IDD_PROGRESS);
    EXPECT_EQ(dialogs[0].title, L"Send to Cutter Utility");
    EXPECT_EQ(dialogs[0].Control(IDCANCEL)->text, L"Cancel");
}

TEST_F(FrontEnd, LargeFileProgressRisesSteadilyToOneHundred) {
    auto cutter = PlugCutter(1, "01");
    cutter->KeepBytes(false);
    const std::string job = MakeJob(50000000);
    EXPECT_EQ(Run(Wide(job)), 0);
    EXPECT_EQ(cutter->ReceivedCount(), 50000000u);
    const auto positions = emu::ProgressPositions();
    ASSERT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 100);
    EXPECT_EQ(positions.size(), 48829u);  // one per chunk, none lost at the end
}

TEST_F(FrontEnd, CutterThatOpensOnlyAtTheSecondAttemptIsUsed) {
    auto cutter = PlugCutter(1, "01");
    emu::FailCall("WinUsb_Initialize", 1, ERROR_GEN_FAILURE);
    const std::string job = MakeJob(100);
    EXPECT_EQ(Run(Wide(job)), 0);
    EXPECT_TRUE(Received(*cutter) == ReadWholeFile(job)) << "bytes differ";
    const std::string records = log.NewRecords();
    EXPECT_NE(records.find("[error]: void __thiscall QUILL::UsbDevice::AsyncOpen(void) - "
                           "WinUsb_Initialize Error\r\r\n failed (31)\r\n"),
              std::string::npos)
        << records;
}

TEST_F(FrontEnd, CutterThatFailsToOpenTwiceIsReportedAndTheFileClosed) {
    PlugCutter(1, "01");
    emu::FailCall("WinUsb_Initialize", 1, ERROR_GEN_FAILURE, 2);
    const std::string job = MakeJob(100);
    EXPECT_EQ(Run(Wide(job)), 1);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"Unable to estabilish communication with the device"});
    EXPECT_TRUE(IsClosed(job));
}

TEST_F(FrontEnd, FailedWriteIsShownOnTheWorkerAndEndsTheTransferAtOnce) {
    auto cutter = PlugCutter(1, "01");
    cutter->FailWrite(2, ERROR_GEN_FAILURE);
    // While the box waits for the user, the transfer must already be ending:
    // the user-interface thread closes the cutter without waiting for it.
    std::atomic<bool> closedWhileBoxOpen{false};
    std::string recordsBeforeBox;  // the record is written when the failure is known
    emu::ScriptMessageBox(IDOK, [&] {
        recordsBeforeBox = log.NewRecords();
        for (int i = 0; i < 2000 && cutter->OpenHandles() != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        closedWhileBoxOpen = cutter->OpenHandles() == 0;
    });
    EXPECT_EQ(Run(Wide(MakeJob(5000))), 1);
    EXPECT_TRUE(closedWhileBoxOpen) << "the transfer waited for the message box";
    // The first chunk's 20 may or may not be shown before the dialog goes;
    // the failed chunk's 40 never.
    for (int position : emu::ProgressPositions()) EXPECT_EQ(position, 20);
    EXPECT_EQ(log.NewRecords(), "");
    ASSERT_GT(recordsBeforeBox.size(), 20u);
    EXPECT_EQ(recordsBeforeBox.substr(20),
              "[error]: bool __cdecl TransferFile(const wchar_t *,class std::shared_ptr<class "
              "QUILL::UsbDevice>) - WinUsb_WritePipe failed (31) after 1024 of 5000 bytes (A "
              "device attached to the system is not functioning.\r\r\n)\r\n");
    const auto boxes = emu::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kSendError);
    EXPECT_NE(boxes[0].threadId, std::this_thread::get_id());
    EXPECT_EQ(cutter->WriteCount(), 2u);
    ExpectWarningBoxes();
}

// A write that completes without an error but takes nothing is no WinUSB failure.
TEST_F(FrontEnd, ZeroByteCompletionIsRecordedAsWhatHappened) {
    auto cutter = PlugCutter(1, "01");
    cutter->FailWrite(2, 0);
    EXPECT_EQ(Run(Wide(MakeJob(5000))), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kSendError});
    EXPECT_EQ(log.NewRecords().substr(20),
              "[error]: bool __cdecl TransferFile(const wchar_t *,class std::shared_ptr<class "
              "QUILL::UsbDevice>) - The cutter took no more bytes after 1024 of 5000 bytes\r\n");
}

TEST_F(FrontEnd, CutterUnpluggedMidFileFailsTheTransfer) {
    auto cutter = PlugCutter(1, "01");
    // Writes take a while, so the file is far from sent when the bar shows 50.
    cutter->SetTiming({std::chrono::milliseconds(2), 0, false});
    emu::ScriptProgress(50, {emu::Call([&] { emu::Unplug(cutter); })});
    EXPECT_EQ(Run(Wide(MakeJob(20000))), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kSendError});
    EXPECT_LT(cutter->ReceivedCount(), 20000u);
}

TEST_F(FrontEnd, CancelOrEscapeWhileAWriteIsOutstandingEndsQuietly) {
    for (const emu::UserAction& cancel : {emu::PressCancel(), emu::PressEscape()}) {
        emu::UseScriptedDesktop();
        auto cutter = PlugCutter(1, "01");
        // Each write stays in flight long enough to be cancelled.
        cutter->SetTiming({std::chrono::milliseconds(20), 0, false});
        EndWatch watch(std::chrono::seconds(5));
        emu::ScriptProgress(20, {watch.Start(), cancel});
        EXPECT_EQ(Run(Wide(MakeJob(20000))), 1) << cancel.Describe();
        EXPECT_FALSE(watch.Overran())
            << "the transfer did not end within 5 s of " << cancel.Describe();
        EXPECT_TRUE(emu::MessageBoxes().empty()) << cancel.Describe();
        EXPECT_LT(cutter->ReceivedCount(), 20000u);
        EXPECT_EQ(cutter->OpenHandles(), 0);
        EXPECT_EQ(cutter->PendingWrites(), 0);
        emu::UnplugAll();
        usbListener.connectedCutters.clear();
    }
}

TEST_F(FrontEnd, FailingCloseStillCleansUpAndReportsFailure) {
    auto cutter = PlugCutter(1, "01");
    cutter->FailClose(ERROR_GEN_FAILURE);
    EXPECT_EQ(Run(Wide(MakeJob(3000))), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kSendError});
    EXPECT_EQ(cutter->OpenHandles(), 0);
}

TEST_F(FrontEnd, ExceptionOnTheWorkerIsLoggedShownAndEndsTheTransfer) {
    auto cutter = PlugCutter(1, "01");
    cutter->SetTiming({std::chrono::milliseconds(5), 0, false});
    emu::ScriptProgress(10, {emu::Call([] {
                            boost::asio::post(usbListener.ioService,
                                              [] { throw std::runtime_error("lost handler"); });
                        })});
    EXPECT_EQ(Run(Wide(MakeJob(20000))), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kSendError});
    // The worker went on running the service after the exception, so the
    // write that Close ended reached its callback while the transfer lived.
    usbListener.ioService.restart();
    EXPECT_EQ(usbListener.ioService.poll(), 0u) << "a completion was left for a later transfer";
    const std::string records = log.NewRecords();
    EXPECT_NE(records.find("[error]: void __thiscall TransferFile::<lambda_1>::operator ()(void) "
                           "const - lost handler\r\n"),
              std::string::npos)
        << records;
}

TEST_F(FrontEnd, UnpluggedCutterIsLoggedOnceWithHowFarItGot) {
    auto cutter = PlugCutter(1, "01");
    cutter->SetTiming({std::chrono::milliseconds(2), 0, false});
    emu::ScriptProgress(50, {emu::Call([&] { emu::Unplug(cutter); })});
    EXPECT_EQ(Run(Wide(MakeJob(20000))), 1);
    const std::string records = log.NewRecords();
    const std::string accepted = std::to_string(cutter->ReceivedCount());
    EXPECT_EQ(records.substr(20),
              "[error]: bool __cdecl TransferFile(const wchar_t *,class std::shared_ptr<class "
              "QUILL::UsbDevice>) - WinUsb_WritePipe failed (22) after " +
                  accepted +
                  " of 20000 bytes (The device does not recognize the command.\r\r\n)\r\n");
}

// The failed chunk's own first 600 bytes reached the cutter: they count.
TEST_F(FrontEnd, FailedWriteCountsWhatTheCutterTookOfItsChunk) {
    auto cutter = PlugCutter(1, "01");
    cutter->AcceptAtMost(600);
    cutter->FailWrite(4, ERROR_GEN_FAILURE);  // the second request of the second chunk
    EXPECT_EQ(Run(Wide(MakeJob(3000))), 1);
    EXPECT_NE(log.NewRecords().find(" after 1624 of 3000 bytes "), std::string::npos);
}

TEST_F(FrontEnd, ReadFailureMidFileIsShownAndTheCutterKeepsTheChunksBefore) {
    auto cutter = PlugCutter(1, "01");
    const std::string job = MakeJob(5000);
    emu::FailCall("ReadFile", 3, ERROR_GEN_FAILURE);
    EXPECT_EQ(Run(Wide(job)), 1);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"Unable to read from file (A device attached "
                                       "to the system is not functioning.\r\n)"});
    EXPECT_TRUE(Received(*cutter) == ReadWholeFile(job).substr(0, 2048)) << "not the first chunks";
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_TRUE(IsClosed(job));
}

TEST_F(FrontEnd, FailingMessageLoopEndsTheTransferAsFailed) {
    auto cutter = PlugCutter(1, "01");
    cutter->SetTiming({std::chrono::milliseconds(20), 0, false});  // the loop must wait
    emu::FailCall("GetMessageW", 1, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Run(Wide(MakeJob(5000))), 1);
    EXPECT_TRUE(emu::MessageBoxes().empty());
    EXPECT_LT(cutter->ReceivedCount(), 5000u);
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->PendingWrites(), 0);
}

}  // namespace

namespace {

// Ctrl+C after the cutter is chosen but before the progress dialog (a
// command line with one cutter opens it first): the dialog is cancelled as
// it comes up, so the cutter is closed and the record written.
TEST_F(FrontEnd, SignalBeforeTheProgressDialogEndsTheTransferAsCancel) {
    auto cutter = PlugCutter(1, "01");
    cutter->SetTiming({std::chrono::milliseconds(5), 0, false});
    auto heard = std::make_shared<std::promise<void>>();
    emu::OnInterrupt([heard](int) { heard->set_value(); });
    emu::InstallInterrupts();
    std::raise(SIGTERM);
    ASSERT_EQ(heard->get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the signal never reached its watcher";
    EXPECT_EQ(Run(Wide(MakeJob(50 * 1024))), 1);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_LT(cutter->ReceivedCount(), 50u * 1024);
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_NE(log.NewRecords().find("Interrupted (signal 15): ended as Cancel"), std::string::npos);
}

}  // namespace
