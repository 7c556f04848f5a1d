// 1024-byte writes per second to an emulated cutter reached through libusb:
// through the whole path the program takes (SetupAPI listing, UsbDevice and
// its write service on the io_service, WinUSB, the completion port) and
// through a bare libusb sender on the same cutter, one write outstanding
// at a time in both. The emulation (umockdev, answered in this process)
// bounds both rates; the ratio is the program's own cost. Then the same on
// a cutter paced like a full-speed bus, where the program must keep up
// with the bus; and the process's CPU while a cutter stopped reading.
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <sys/resource.h>

#include <thread>
#include <vector>

#include "bench/chained_writes.h"
#include "tests/host_usb/emulated_usb.h"
#include "usb/usb_listener.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChunk = 1024;
constexpr int kWrites = 3000;
constexpr int kPacedWrites = 1000;  // about 0.9 s of a full-speed bus

// Writes per second through UsbDevice::AsyncWrite, each write started from
// the previous one's callback.
double ThroughTheProgram(int writes) {
    UsbListener listener;
    listener.Init(false);
    if (listener.connectedCutters.size() != 1) throw std::runtime_error("no cutter listed");
    auto device = listener.connectedCutters.begin()->second;
    device->AsyncOpen();
    if (!device->IsOpen()) throw std::runtime_error("cannot open the cutter");
    return writes / ChainWrites(listener.ioService, *device, writes, kChunk);
}

void LIBUSB_CALL Done(libusb_transfer* transfer) {
    *static_cast<int*>(transfer->user_data) = 1;
}

// The same writes with libusb alone: submit, handle events until it
// completes, again.
double Bare(int writes) {
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) throw std::runtime_error("libusb_init");
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, 0x2E7A, 0x4C01);
    if (handle == nullptr || libusb_claim_interface(handle, 0) != 0)
        throw std::runtime_error("cannot open the cutter with libusb");
    std::vector<unsigned char> chunk(kChunk, 0x5A);
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    int completed = 0;
    const auto start = Clock::now();
    for (int i = 0; i < writes; ++i) {
        completed = 0;
        libusb_fill_bulk_transfer(transfer, handle, 0x02, chunk.data(), kChunk, Done, &completed,
                                  0);
        if (libusb_submit_transfer(transfer) != 0) throw std::runtime_error("submit");
        while (completed == 0) libusb_handle_events_completed(context, &completed);
        if (transfer->status != LIBUSB_TRANSFER_COMPLETED) throw std::runtime_error("write");
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    libusb_free_transfer(transfer);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_exit(context);
    return writes / elapsed.count();
}

// Alternating rounds, so that a busy moment of the machine does not favour
// one side; the best round of each counts.
void Compare(const char* what, int writes, const char* target) {
    double program = 0, bare = 0;
    for (int round = 0; round < 3; ++round) {
        bare = std::max(bare, Bare(writes));
        program = std::max(program, ThroughTheProgram(writes));
    }
    std::printf("%s, %d writes of %d bytes, best of 3 rounds:\n", what, writes, kChunk);
    std::printf("  bare libusb sender:   %.0f writes/s\n", bare);
    std::printf("  through the program:  %.0f writes/s\n", program);
    std::printf("  ratio: %.1f %% of the bare sender (target: %s)\n", 100.0 * program / bare,
                target);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The process's CPU over 5 s while a write waits on a cutter that stopped
// reading, as during a paper jam.
void StalledCpu(emulated_usb::Device& cutter) {
    cutter.StopReading(true);
    UsbListener listener;
    listener.Init(false);
    auto device = listener.connectedCutters.begin()->second;
    device->AsyncOpen();
    if (!device->IsOpen()) throw std::runtime_error("cannot open the cutter");
    std::vector<unsigned char> chunk(kChunk, 0x5A);
    device->AsyncWrite(chunk.data(), kChunk, [](bool) {});
    std::thread worker([&listener] { listener.ioService.run(); });
    cutter.WaitForWrites(cutter.WriteCount() + 1, std::chrono::seconds(5));
    const double before = CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu = CpuSeconds() - before;
    const std::chrono::duration<double> wall = Clock::now() - start;
    device->Close();  // ends the write
    worker.join();
    cutter.StopReading(false);
    std::printf(
        "cutter stopped reading for %.1f s: %.0f ms CPU, %.2f %% of a core "
        "(target: below 1 %%)\n",
        wall.count(), cpu * 1000, 100 * cpu / wall.count());
}

}  // namespace

int main(int argc, char** argv) {
    emulated_usb::RunUnderUmockdev(argc, argv);
    std::signal(SIGHUP, SIG_IGN);
    emulated_usb::StartBus();
    auto cutter = emulated_usb::Plug(emulated_usb::DeviceConfig{});
    Compare("emulated cutter through libusb", kWrites, "at least 90 %");
    std::printf("  bytes received by the cutter: %llu\n",
                static_cast<unsigned long long>(cutter->ReceivedCount()));
    StalledCpu(*cutter);
    emulated_usb::Unplug(cutter);
    emulated_usb::DeviceConfig paced;
    paced.fullSpeedPacing = true;
    emulated_usb::Plug(paced);
    Compare("full-speed cutter (64-byte packets, 19 a frame)", kPacedWrites, "at least 95 %");
    emulated_usb::UnplugAll();
    return 0;
}
