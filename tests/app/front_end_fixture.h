// Runs the whole program in-process: wWinMain against virtual cutters and
// the scripted desktop, with job files in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/front_end_state.h"
#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "resources/resource.h"
#include "tests/support/job_pattern.h"
#include "tests/support/log_watch.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"
#include "usb/usb_listener.h"

// Times a run from a moment on, e.g. Cancel. A run still going `limit`
// after Start() is marked as overrun, and from then on its user-interface
// thread is woken every few milliseconds: a loop that missed its end (a
// WM_QUIT it ignored) may still return, so the test fails on its own
// expectation and the run goes on, rather than stopping at the deadline.
// Made on the thread that runs the program; a WM_NULL it leaves is harmless.
class EndWatch {
  public:
    explicit EndWatch(std::chrono::seconds runLimit)
        : limit(runLimit), uiThread(GetCurrentThreadId()) {}
    ~EndWatch() { Stop(); }
    EndWatch(const EndWatch&) = delete;
    EndWatch& operator=(const EndWatch&) = delete;

    // Starts the clock when the user comes to this action.
    emu::UserAction Start() {
        return emu::Call([this] { watcher = std::thread([this] { Watch(); }); });
    }
    // Call once the run has returned: whether it outlived the limit.
    bool Overran() {
        Stop();
        return overran;
    }

  private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex);
        if (ended.wait_for(lock, limit, [this] { return done; })) return;
        overran = true;
        while (!ended.wait_for(lock, std::chrono::milliseconds(10), [this] { return done; })) {
            PostThreadMessageW(uiThread, WM_NULL, 0, 0);
        }
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        ended.notify_all();
        if (watcher.joinable()) watcher.join();
    }

    const std::chrono::seconds limit;
    const DWORD uiThread;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    bool overran = false;
    std::thread watcher;
};

class FrontEnd : public testing::Test {
  protected:
    void SetUp() override {
        emu::UseScriptedDesktop();
        SelectedCutterIndex = -1;
    }
    void TearDown() override {
        usbListener.connectedCutters.clear();
        emu::ClearFaults();
        emu::UnplugAll();
    }

    int Run(const std::wstring& commandLine = L"") {
        return RunProgram(
            commandLine,
            "wWinMain of " +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()),
            std::chrono::seconds(30));
    }

    // A cutter of `product` with `serial` on USB port `port`.
    static std::shared_ptr<emu::VirtualDevice> PlugCutter(int port, const std::string& serial,
                                                          USHORT product = 0x4C01) {
        emu::VirtualDeviceConfig config;
        config.productId = product;
        config.serial = serial;
        config.locationPaths = {emu::PortLocationPath(port)};
        return emu::PlugIn(config);
    }

    // A job file of `size` bytes of a pattern that shows misplaced chunks.
    std::string MakeJob(std::size_t size, const std::string& name = "job.plt") {
        WriteWholeFile(jobs / name, JobPattern(size));
        return jobs / name;
    }

    // True when nothing holds the file open: an exclusive open succeeds.
    static bool IsClosed(const std::string& path) {
        const std::wstring wide = Wide(path);
        HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
        return true;
    }

    static std::string Received(const emu::VirtualDevice& cutter) {
        const auto bytes = cutter.Received();
        return std::string(bytes.begin(), bytes.end());
    }

    // The texts of the message boxes shown, in order.
    static std::vector<std::string> MessageTexts() {
        std::vector<std::string> texts;
        for (const auto& box : emu::MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    // Every box is a warning captioned "bladepost".
    static void ExpectWarningBoxes() {
        for (const auto& box : emu::MessageBoxes()) {
            EXPECT_EQ(box.caption, "bladepost");
            EXPECT_EQ(box.Icon(), static_cast<UINT>(MB_ICONWARNING));
        }
    }

    TempFolder jobs;
    LogWatch log;
};
