// Throughput of the pipe write service: 1024-byte whole-buffer writes, one
// outstanding at a time, to a zero-latency virtual cutter (the service's own
// cost) and to a full-speed one (compared with a bare sender that drives
// WinUsb_WritePipe and the completion port directly on the same cutter).
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/chained_writes.h"
#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "tests/support/device_factory.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kChunk = 1024;

// Sends `writes` chunks through UsbDevice::AsyncWrite, each started from the
// previous one's callback; returns the seconds taken.
double SendThroughService(emu::VirtualDevice& cutter, int writes) {
    boost::asio::io_service service;
    auto device = MakeDevice(service, cutter);
    device->AsyncOpen();
    if (!device->IsOpen()) throw std::runtime_error("cannot open the virtual cutter");
    return ChainWrites(service, *device, writes, kChunk);
}

// The same writes with nothing between the sender and the port.
double SendBare(emu::VirtualDevice& cutter, int writes) {
    HANDLE file = CreateFileW(cutter.DevicePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    WINUSB_INTERFACE_HANDLE winusb = nullptr;
    WinUsb_Initialize(file, &winusb);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0);
    CreateIoCompletionPort(file, port, 0, 0);
    std::vector<unsigned char> chunk(kChunk, 0x5A);
    OVERLAPPED overlapped{};
    const auto start = Clock::now();
    for (int i = 0; i < writes; ++i) {
        WinUsb_WritePipe(winusb, 0x02, chunk.data(), kChunk, nullptr, &overlapped);
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED done = nullptr;
        GetQueuedCompletionStatus(port, &bytes, &key, &done, INFINITE);
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    WinUsb_Free(winusb);
    CloseHandle(file);
    CloseHandle(port);
    return elapsed.count();
}

}  // namespace

int main() {
    auto fast = emu::PlugIn({});
    fast->KeepBytes(false);
    const int fastWrites = 200000;
    const double fastSeconds = SendThroughService(*fast, fastWrites);
    std::printf(
        "zero-latency cutter: %.0f writes/s through the service (%.2f us per write, "
        "%llu bytes received)\n",
        fastWrites / fastSeconds, fastSeconds / fastWrites * 1e6,
        static_cast<unsigned long long>(fast->ReceivedCount()));

    emu::VirtualDeviceConfig config;
    config.serial = "FULLSPEED";
    auto slow = emu::PlugIn(config);
    slow->KeepBytes(false);
    slow->SetTiming({std::chrono::microseconds(0), emu::kFullSpeedBytesPerMillisecond, false});
    const int slowWrites = 2000;
    const double bare = SendBare(*slow, slowWrites);
    const double viaService = SendThroughService(*slow, slowWrites);
    const double busRate = emu::kFullSpeedBytesPerMillisecond * 1000;  // bytes per second
    const double bareRate = slowWrites * kChunk / bare;
    const double serviceRate = slowWrites * kChunk / viaService;
    std::printf(
        "full-speed cutter: bus %.0f B/s, bare sender %.0f B/s (%.1f%% of the bus), "
        "service %.0f B/s\n",
        busRate, bareRate, 100 * bareRate / busRate, serviceRate);
    std::printf("full-speed cutter: the service reaches %.1f%% of the bare sender's rate\n",
                100 * serviceRate / bareRate);
    return 0;
}
