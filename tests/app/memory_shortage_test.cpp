// Memory running out where the program must still end cleanly: in the file
// dialog hook, which nothing may leave, and while a transfer starts. A test
// executable of its own, as it replaces the global operator new.
#include <cstring>
#include <exception>
#include <string>

#include "platform/emu/faults.h"
#include "tests/app/front_end_fixture.h"
#include "tests/app/listener_swap.h"
#include "tests/support/failing_allocation.h"

namespace {

// Ends the shortage when the hook posts its Cancel: from there on it is the
// dialog's own work, which on Windows allocates nothing of the program's.
void EndShortageAtThePost(const char* function) {
    if (std::strcmp(function, "PostMessageW") == 0) failing_allocation::Stop();
}

// Ends the shortage at the program's next Windows call: the emulation
// allocates where Windows would not.
void EndShortageAtTheNextCall(const char*) {
    failing_allocation::Stop();
}

// A failure whose handler finds memory exhausted: reading its text starts
// the shortage, so the unwinding before it (the emulation's own calls among
// it) still has memory, and the handler's every step after it has none.
class FailureThatExhaustsMemory : public std::exception {
  public:
    explicit FailureThatExhaustsMemory(const char* why) : text(why) {}
    const char* what() const noexcept override {
        if (!exhausted) failing_allocation::Start();
        exhausted = true;
        return text;
    }

  private:
    const char* text;
    mutable bool exhausted = false;
};

// Fails to list the cutters with `text`, which outlives the run.
class ExhaustingListener : public QUILL::IUsbListener {
  public:
    explicit ExhaustingListener(const std::string& failure) : text(failure.c_str()) {}
    bool IsSupported(std::uint16_t, std::uint16_t) override { return true; }
    void OnArrival(std::shared_ptr<QUILL::UsbDevice>) override {
        throw FailureThatExhaustsMemory(text);
    }
    void OnRemoval(std::shared_ptr<QUILL::UsbDevice>) override {}
    void OnReserved(std::uint32_t) override {}

  private:
    const char* text;
};

class MemoryShortage : public FrontEnd {
  protected:
    void TearDown() override {
        emu::ObserveCalls(nullptr);
        failing_allocation::Stop();
        FrontEnd::TearDown();
    }

    // Runs the program with the hook's listing failing with `text` while
    // memory is exhausted.
    int RunFailingWith(const std::string& text) {
        emu::ObserveCalls(EndShortageAtThePost);
        PlugCutter(1, "01");
        ExhaustingListener exhausting(text);
        const ListenerSwap swap(&exhausting);
        return Run();
    }
};

TEST_F(MemoryShortage, GivesUpWithoutAllocatingAndTheBoxSaysWhy) {
    const std::string text = "the cutter list could not be made, out of memory";  // beyond SSO
    EXPECT_EQ(RunFailingWith(text), 1);  // an exception leaving the hook: std::terminate
    EXPECT_GT(failing_allocation::Refused(), 0u) << "memory was never short";
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{text});
    EXPECT_EQ(emu::FileDialogs().size(), 1u);
}

TEST_F(MemoryShortage, TextBeyondTheReservedRoomIsCutNotThrown) {
    const std::string text(300, 'x');
    EXPECT_EQ(RunFailingWith(text), 1);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{text.substr(0, 255)});
}

// The first allocation after the progress dialog is shown makes the work
// that keeps the service running, the second the worker thread.
TEST_F(MemoryShortage, WhileTheTransferStartsEverythingIsUndoneAndTheUserTold) {
    for (unsigned long allowed : {0ul, 1ul}) {
        emu::UseScriptedDesktop();
        emu::ObserveCalls(EndShortageAtTheNextCall);
        auto cutter = PlugCutter(1, "01");
        const std::string job = MakeJob(5000);
        const std::size_t windows = emu::LiveWindowCount();
        emu::ScriptDialog(IDD_PROGRESS,
                          {emu::Call([allowed] { failing_allocation::Start(allowed); })});
        EXPECT_EQ(Run(Wide(job)), 1) << allowed;
        EXPECT_EQ(failing_allocation::Refused(), 1u) << allowed;
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"std::bad_alloc"}) << allowed;
        EXPECT_EQ(emu::LiveWindowCount(), windows) << allowed << ": the progress dialog is left";
        EXPECT_EQ(cutter->OpenHandles(), 0) << allowed;
        EXPECT_EQ(cutter->WriteCount(), 0u) << allowed;
        EXPECT_TRUE(IsClosed(job)) << allowed;
        EXPECT_EQ(cutter->PendingWrites(), 0) << allowed;
        // Nothing keeps the service busy: no handler left queued, and without
        // work left on it a poll stops it.
        usbListener.ioService.restart();
        EXPECT_EQ(usbListener.ioService.poll(), 0u) << allowed;
        EXPECT_TRUE(usbListener.ioService.stopped()) << allowed << ": work left on the service";
        emu::UnplugAll();
        usbListener.connectedCutters.clear();
    }
}

}  // namespace
