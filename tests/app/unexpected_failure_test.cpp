// Failures that arrive as exceptions the program did not plan for: each ends
// the run with a message box, exit code 1 and, where the log can be reached,
// a record, never by unwinding through Windows' frames or std::terminate.
#include <atomic>
#include <memory>
#include <new>
#include <stdexcept>

#include "tests/app/front_end_fixture.h"
#include "tests/app/listener_swap.h"

namespace {

// A listener that runs out of memory when a cutter arrives, as the map's
// insertion would.
class OutOfMemoryListener : public QUILL::IUsbListener {
  public:
    bool IsSupported(std::uint16_t, std::uint16_t) override { return true; }
    void OnArrival(std::shared_ptr<QUILL::UsbDevice>) override { throw std::bad_alloc(); }
    void OnRemoval(std::shared_ptr<QUILL::UsbDevice>) override {}
    void OnReserved(std::uint32_t) override {}
};

class UnexpectedFailure : public FrontEnd {};

TEST_F(UnexpectedFailure, InTheDialogHookClosesTheDialogAndEndsWithOne) {
    PlugCutter(1, "01");
    OutOfMemoryListener throwing;
    const ListenerSwap swap(&throwing);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"std::bad_alloc"});
    EXPECT_EQ(emu::FileDialogs().size(), 1u);
    EXPECT_NE(log.NewRecords().find("[error]: unsigned int __stdcall OpenDialogHook(struct HWND__ "
                                    "*,unsigned int,unsigned int,long) - std::bad_alloc\r\n"),
              std::string::npos);
}

TEST_F(UnexpectedFailure, WhileCountingCuttersForTheCommandLineEndsWithOne) {
    PlugCutter(1, "01");
    OutOfMemoryListener throwing;
    const ListenerSwap swap(&throwing);
    EXPECT_EQ(Run(Wide(MakeJob(10))), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"std::bad_alloc"});
    EXPECT_NE(log.NewRecords().find("[error]: int __stdcall wWinMain(struct HINSTANCE__ *,struct "
                                    "HINSTANCE__ *,wchar_t *,int) - std::bad_alloc\r\n"),
              std::string::npos);
}

// A window of the user-interface thread that throws when the transfer's
// loop dispatches its message.
INT_PTR CALLBACK ThrowingProc(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_APP) throw std::runtime_error("handler failed");
    return FALSE;
}

TEST_F(UnexpectedFailure, MidTransferStillCleansUpBeforeItIsReported) {
    auto cutter = PlugCutter(1, "01");
    cutter->SetTiming({std::chrono::milliseconds(5), 0, false});
    HWND other = nullptr;
    emu::ScriptProgress(10, {emu::Call([&other] {
                            other = CreateDialogParamW(GetModuleHandleW(nullptr),
                                                       MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                                                       ThrowingProc, 0);
                            PostMessageW(other, WM_APP, 0, 0);
                        })});
    EXPECT_EQ(Run(Wide(MakeJob(20000))), 1);  // without the cleanup: std::terminate
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"handler failed"});
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->PendingWrites(), 0);
    EXPECT_LT(cutter->ReceivedCount(), 20000u);
    DestroyWindow(other);
}

// A handler that fails and queues itself again while `failing`: every run
// of the service then throws.
struct FailingAgain {
    boost::asio::io_service* service;
    std::shared_ptr<std::atomic<bool>> failing;
    void operator()() const {
        if (!*failing) return;
        service->post(*this);
        throw std::runtime_error("handler failed");
    }
};

TEST_F(UnexpectedFailure, AServiceThatFailsEveryTimeStillEndsTheTransfer) {
    auto cutter = PlugCutter(1, "01");
    cutter->SetTiming({std::chrono::milliseconds(5), 0, false});
    boost::asio::io_service& service = usbListener.ioService;
    auto failing = std::make_shared<std::atomic<bool>>(true);
    emu::ScriptProgress(10, {emu::Call([&] { service.post(FailingAgain{&service, failing}); })});
    EXPECT_EQ(Run(Wide(MakeJob(20000))), 1);  // without a bound: the worker never ends
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"An error occurred while sending data"});
    EXPECT_EQ(log.NewRecords().substr(20),
              "[error]: void __thiscall TransferFile::<lambda_1>::operator ()(void) const - "
              "handler failed\r\n");
    EXPECT_EQ(cutter->OpenHandles(), 0);
    EXPECT_EQ(cutter->PendingWrites(), 0);
    *failing = false;  // what is left queued ends quietly
    service.restart();
    service.poll();
}

}  // namespace
