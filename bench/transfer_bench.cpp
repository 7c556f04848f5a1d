// TransferFile end to end: a 50 MB file to a zero-latency virtual cutter and
// to a full-speed one, with the real worker thread and message loop. Prints
// MB/s, the share of the one-write-at-a-time ceiling reached, and the
// process's peak memory after each size, which must not grow with the file.
//   transfer_bench [megabytes]      (default 50)
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>

#include "app/transfer.h"
#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "tests/support/temp_folder.h"
#include "usb/usb_listener.h"

namespace {

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string MakeJob(const TempFolder& folder, std::size_t bytes) {
    const std::string path = folder / ("job-" + std::to_string(bytes) + ".plt");
    std::ofstream file(path, std::ios::binary);
    std::string block(1 << 20, 'x');
    for (std::size_t left = bytes; left > 0;) {
        const std::size_t now = left < block.size() ? left : block.size();
        file.write(block.data(), static_cast<std::streamsize>(now));
        left -= now;
    }
    return path;
}

// Sends `path` to a cutter with `timing`; returns seconds.
double Send(const std::string& path, const emu::PipeTiming& timing) {
    emu::UnplugAll();
    usbListener.connectedCutters.clear();
    emu::UseScriptedDesktop();
    auto cutter = emu::PlugIn({});
    cutter->KeepBytes(false);
    cutter->SetTiming(timing);
    usbListener.Init(false);
    const std::wstring widePath(path.begin(), path.end());
    const auto start = std::chrono::steady_clock::now();
    const bool sent = TransferFile(widePath.c_str(), usbListener.connectedCutters.begin()->second);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!sent) {
        std::fprintf(stderr, "the transfer failed\n");
        std::exit(1);
    }
    return elapsed.count();
}

// The transfer hands every chunk from the user-interface thread to the
// worker and back: one thread round trip per chunk, whatever else it costs.
// This is that round trip alone, on this machine.
double RoundTripMicroseconds() {
    std::mutex mutex;
    std::condition_variable changed;
    int turn = 0;
    constexpr int kTrips = 20000;
    std::thread other([&] {
        for (int i = 0; i < kTrips; ++i) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return turn == 1; });
            turn = 0;
            changed.notify_all();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kTrips; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        turn = 1;
        changed.notify_all();
        changed.wait(lock, [&] { return turn == 0; });
    }
    other.join();
    const std::chrono::duration<double, std::micro> elapsed =
        std::chrono::steady_clock::now() - start;
    return elapsed.count() / kTrips;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const std::size_t size = megabytes * 1000 * 1000;
    TempFolder folder;
    InitCommonControls();

    const std::string small = MakeJob(folder, size / 10), large = MakeJob(folder, size);
    Send(small, {});
    const long peakSmall = PeakKilobytes();
    const double fast = Send(large, {});
    const long peakLarge = PeakKilobytes();
    std::printf("zero-latency cutter: %zu MB in %.2f s = %.1f MB/s (%.1f us per 1024-byte chunk)\n",
                megabytes, fast, size / fast / 1e6, fast / (size / 1024.0) * 1e6);
    const double trip = RoundTripMicroseconds();
    std::printf(
        "a bare thread round trip here takes %.1f us: at most %.1f MB/s with one per chunk\n", trip,
        1024 / trip);
    std::printf("peak memory: %ld KiB after %zu MB, %ld KiB after %zu MB\n", peakSmall,
                megabytes / 10, peakLarge, megabytes);

    const emu::PipeTiming fullSpeed{std::chrono::microseconds(0),
                                    emu::kFullSpeedBytesPerMillisecond, false};
    const double slow = Send(large, fullSpeed);
    // One write at a time, each 1024 bytes on a bus of this rate: the ceiling.
    const double ceiling = emu::kFullSpeedBytesPerMillisecond * 1000;
    std::printf("full-speed cutter: %.3f MB/s, %.1f%% of the %.3f MB/s ceiling\n",
                size / slow / 1e6, 100 * (size / slow) / ceiling, ceiling / 1e6);
    return 0;
}
