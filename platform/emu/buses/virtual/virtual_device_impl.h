// Inside of the virtual USB devices: the bus's devices and the files
// CreateFileW opens on them, which WinUSB drives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/emu/buses/virtual/virtual_usb.h"
#include "platform/emu/winusb/usb_bus.h"

namespace emu {

class VirtualDeviceImpl;

// A file handle opened on a virtual device's interface path.
class DeviceFile : public UsbDeviceFile, public std::enable_shared_from_this<DeviceFile> {
  public:
    DeviceFile(std::shared_ptr<VirtualDeviceImpl> device, bool overlapped);
    bool Close(DWORD* error) override;
    bool CancelIo(DWORD* error) override;

    bool SpeaksWinUsb() const override;
    BOOL Claim() override;
    void Release() override;
    BOOL QueryInterfaceSettings(UCHAR alternate, PUSB_INTERFACE_DESCRIPTOR descriptor) override;
    BOOL QueryPipe(UCHAR alternate, UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) override;
    BOOL WritePipe(UCHAR pipeId, const UCHAR* data, ULONG length, PULONG transferred,
                   OVERLAPPED* overlapped) override;
    bool IsClosed() const override { return closed; }

    const std::shared_ptr<VirtualDeviceImpl>& Device() const { return device; }

  private:
    std::shared_ptr<VirtualDeviceImpl> device;
    std::atomic<bool> closed{false};
};

class VirtualDeviceImpl : public VirtualDevice {
  public:
    VirtualDeviceImpl(VirtualDeviceConfig config, std::wstring path, std::string instanceId);
    ~VirtualDeviceImpl() override;

    void SetTiming(const PipeTiming& timing) override;
    void AcceptAtMost(ULONG bytes) override;
    void FailWrite(unsigned long nth, DWORD error, bool atOnce) override;
    void FailClose(DWORD error) override;
    void KeepBytes(bool keep) override;
    std::vector<unsigned char> Received() const override;
    std::uint64_t ReceivedCount() const override;
    std::vector<Write> Writes() const override;
    unsigned long WriteCount() const override;
    int OpenHandles() const override;
    int OpenInterfaces() const override;
    int PendingWrites() const override;
    const VirtualDeviceConfig& Config() const override { return config; }
    std::wstring DevicePath() const override { return path; }
    std::string InstanceId() const override { return instanceId; }

    // The emulation's half.
    bool Present() const;
    void Remove();
    bool Opened(DWORD* error);
    bool FileClosed(DeviceFile* file, DWORD* error);
    // CancelIoEx on the file: false with ERROR_NOT_FOUND when nothing was in flight.
    bool FileCancelled(DeviceFile* file, DWORD* error);
    void InterfaceOpened();
    void InterfaceFreed(DeviceFile* file);
    BOOL WritePipe(const std::shared_ptr<DeviceFile>& file, UCHAR pipe, const UCHAR* data,
                   ULONG length, PULONG transferred, OVERLAPPED* overlapped);

  private:
    using Clock = std::chrono::steady_clock;
    struct Transfer {
        std::shared_ptr<DeviceFile> file;
        OVERLAPPED* overlapped;
        const UCHAR* data;
        ULONG moved;
        DWORD error;
        Clock::time_point due;
    };
    struct WriteFault {
        unsigned long nth;
        DWORD error;
        bool atOnce;
    };

    bool IsOutPipe(UCHAR pipe) const;
    const WriteFault* FaultFor(unsigned long write) const;
    void Record(const UCHAR* data, ULONG bytes);
    Clock::time_point DueTime(ULONG bytes);
    // Ends the file's transfers in flight (every file's when null) with
    // `error`; returns how many.
    std::size_t Abort(DeviceFile* file, DWORD error);
    void RunEngine();

    const VirtualDeviceConfig config;
    const std::wstring path;
    const std::string instanceId;

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool present = true;
    PipeTiming timing;
    ULONG acceptAtMost = 0;
    std::vector<WriteFault> faults;
    DWORD closeError = 0;
    bool keepBytes = true;
    std::vector<unsigned char> received;
    std::ofstream receiveFile;
    std::uint64_t receivedCount = 0;
    std::vector<Write> writes;
    unsigned long writeCount = 0;
    int openHandles = 0;
    int openInterfaces = 0;
    std::deque<Transfer> pending;
    Clock::time_point busFreeAt{};
    bool stopping = false;
    std::thread engine;
};

}  // namespace emu
