#include <algorithm>
#include <sys/prctl.h>

#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/buses/virtual/virtual_device_impl.h"

namespace emu {

VirtualDevice::~VirtualDevice() = default;

DeviceFile::DeviceFile(std::shared_ptr<VirtualDeviceImpl> owner, bool overlapped)
    : UsbDeviceFile(overlapped), device(std::move(owner)) {}

bool DeviceFile::Close(DWORD* error) {
    closed = true;
    return device->FileClosed(this, error);
}

bool DeviceFile::CancelIo(DWORD* error) {
    return device->FileCancelled(this, error);
}

bool DeviceFile::SpeaksWinUsb() const {
    return device->Config().winUsb;
}

BOOL DeviceFile::Claim() {
    if (!device->Present()) {
        SetLastError(kRemovedDeviceError);
        return FALSE;
    }
    device->InterfaceOpened();
    return TRUE;
}

void DeviceFile::Release() {
    device->InterfaceFreed(this);
}

BOOL DeviceFile::QueryInterfaceSettings(UCHAR alternate, PUSB_INTERFACE_DESCRIPTOR descriptor) {
    if (!device->Present()) {
        SetLastError(kRemovedDeviceError);
        return FALSE;
    }
    if (alternate != 0) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    *descriptor = USB_INTERFACE_DESCRIPTOR{};
    descriptor->bLength = sizeof(USB_INTERFACE_DESCRIPTOR);
    descriptor->bDescriptorType = 4;  // INTERFACE
    descriptor->bNumEndpoints = static_cast<UCHAR>(device->Config().endpoints.size());
    descriptor->bInterfaceClass = 0xFF;  // vendor specific, as WinUSB devices are
    return TRUE;
}

BOOL DeviceFile::QueryPipe(UCHAR alternate, UCHAR pipeIndex, PWINUSB_PIPE_INFORMATION pipe) {
    if (!device->Present()) {
        SetLastError(kRemovedDeviceError);
        return FALSE;
    }
    const auto& endpoints = device->Config().endpoints;
    if (alternate != 0 || pipeIndex >= endpoints.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const UsbEndpoint& endpoint = endpoints[pipeIndex];
    *pipe = WINUSB_PIPE_INFORMATION{endpoint.type, endpoint.address, endpoint.maxPacketSize, 0};
    return TRUE;
}

BOOL DeviceFile::WritePipe(UCHAR pipeId, const UCHAR* data, ULONG length, PULONG transferred,
                           OVERLAPPED* overlapped) {
    return device->WritePipe(shared_from_this(), pipeId, data, length, transferred, overlapped);
}

VirtualDeviceImpl::VirtualDeviceImpl(VirtualDeviceConfig deviceConfig, std::wstring devicePath,
                                     std::string id)
    : config(std::move(deviceConfig)), path(std::move(devicePath)), instanceId(std::move(id)) {}

VirtualDeviceImpl::~VirtualDeviceImpl() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        wake.notify_all();
    }
    if (engine.joinable()) engine.join();
}

void VirtualDeviceImpl::SetTiming(const PipeTiming& newTiming) {
    std::lock_guard<std::mutex> lock(mutex);
    timing = newTiming;
}

void VirtualDeviceImpl::AcceptAtMost(ULONG bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    acceptAtMost = bytes;
}

void VirtualDeviceImpl::FailWrite(unsigned long nth, DWORD error, bool atOnce) {
    std::lock_guard<std::mutex> lock(mutex);
    faults.push_back({nth, error, atOnce});
}

void VirtualDeviceImpl::FailClose(DWORD error) {
    std::lock_guard<std::mutex> lock(mutex);
    closeError = error;
}

void VirtualDeviceImpl::KeepBytes(bool keep) {
    std::lock_guard<std::mutex> lock(mutex);
    keepBytes = keep;
}

std::vector<unsigned char> VirtualDeviceImpl::Received() const {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

std::uint64_t VirtualDeviceImpl::ReceivedCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return receivedCount;
}

std::vector<VirtualDevice::Write> VirtualDeviceImpl::Writes() const {
    std::lock_guard<std::mutex> lock(mutex);
    return writes;
}

unsigned long VirtualDeviceImpl::WriteCount() const {
    std::lock_guard<std::mutex> lock(mutex);
    return writeCount;
}

int VirtualDeviceImpl::OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex);
    return openHandles;
}

int VirtualDeviceImpl::OpenInterfaces() const {
    std::lock_guard<std::mutex> lock(mutex);
    return openInterfaces;
}

int VirtualDeviceImpl::PendingWrites() const {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(pending.size());
}

bool VirtualDeviceImpl::Present() const {
    std::lock_guard<std::mutex> lock(mutex);
    return present;
}

void VirtualDeviceImpl::Remove() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        present = false;
        wake.notify_all();
    }
    Abort(nullptr, kRemovedDeviceError);
    // No write can start any more (WritePipe checks `present` first), so the
    // thread ends now: join it rather than leave a finished thread behind.
    if (engine.joinable()) engine.join();
}

bool VirtualDeviceImpl::Opened(DWORD* error) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!present) {
        *error = ERROR_FILE_NOT_FOUND;
        return false;
    }
    // WinUSB opens its device exclusively: while one handle is open, another
    // open is refused, from this process or any other.
    if (openHandles != 0) {
        *error = kDeviceInUseError;
        return false;
    }
    ++openHandles;
    return true;
}

bool VirtualDeviceImpl::FileClosed(DeviceFile* file, DWORD* error) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        --openHandles;
        // A close that fails leaves what is in flight there: nothing but a
        // cancel ends it.
        if (closeError != 0) {
            *error = closeError;
            return false;
        }
    }
    // Closing the handle cancels what is still in flight on it.
    Abort(file, ERROR_OPERATION_ABORTED);
    return true;
}

bool VirtualDeviceImpl::FileCancelled(DeviceFile* file, DWORD* error) {
    if (Abort(file, ERROR_OPERATION_ABORTED) != 0) return true;
    *error = ERROR_NOT_FOUND;
    return false;
}

void VirtualDeviceImpl::InterfaceOpened() {
    std::lock_guard<std::mutex> lock(mutex);
    ++openInterfaces;
}

void VirtualDeviceImpl::InterfaceFreed(DeviceFile*) {
    // WinUsb_Free ends no request: they belong to the file handle.
    std::lock_guard<std::mutex> lock(mutex);
    --openInterfaces;
}

bool VirtualDeviceImpl::IsOutPipe(UCHAR pipe) const {
    for (const UsbEndpoint& endpoint : config.endpoints) {
        if (endpoint.address == pipe) return (pipe & 0x80) == 0;
    }
    return false;
}

const VirtualDeviceImpl::WriteFault* VirtualDeviceImpl::FaultFor(unsigned long write) const {
    for (const WriteFault& fault : faults) {
        if (fault.nth == write) return &fault;
    }
    return nullptr;
}

void VirtualDeviceImpl::Record(const UCHAR* data, ULONG bytes) {
    receivedCount += bytes;
    if (keepBytes) received.insert(received.end(), data, data + bytes);
    if (!config.receiveFile.empty()) {
        if (!receiveFile.is_open()) {
            receiveFile.open(config.receiveFile, std::ios::binary | std::ios::app);
        }
        receiveFile.write(reinterpret_cast<const char*>(data), bytes);
        receiveFile.flush();
    }
}

VirtualDeviceImpl::Clock::time_point VirtualDeviceImpl::DueTime(ULONG bytes) {
    // The bus carries one transfer after the other; each also waits out the
    // device's latency.
    Clock::time_point start = std::max(Clock::now(), busFreeAt);
    auto onBus = timing.bytesPerMillisecond > 0
                     ? std::chrono::duration<double, std::milli>(bytes / timing.bytesPerMillisecond)
                     : std::chrono::duration<double, std::milli>(0);
    busFreeAt = start + timing.latency + std::chrono::duration_cast<Clock::duration>(onBus);
    return busFreeAt;
}

BOOL VirtualDeviceImpl::WritePipe(const std::shared_ptr<DeviceFile>& file, UCHAR pipe,
                                  const UCHAR* data, ULONG length, PULONG transferred,
                                  OVERLAPPED* overlapped) {
    if (transferred != nullptr) *transferred = 0;
    std::unique_lock<std::mutex> lock(mutex);
    if (!present) {
        SetLastError(kRemovedDeviceError);
        return FALSE;
    }
    if (!IsOutPipe(pipe) || overlapped == nullptr || (data == nullptr && length != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);  // only overlapped writes are emulated
        return FALSE;
    }
    ++writeCount;
    // Only counted when bytes are not kept either: a long run stays small.
    if (keepBytes) writes.push_back({pipe, length});
    const WriteFault* fault = FaultFor(writeCount);
    if (fault != nullptr && fault->atOnce) {
        SetLastError(fault->error);
        return FALSE;
    }
    Transfer transfer{file, overlapped, data, length, 0, Clock::now()};
    if (fault != nullptr) {
        transfer.error = fault->error;
        transfer.moved = 0;
    } else if (acceptAtMost != 0) {
        transfer.moved = std::min(length, acceptAtMost);
    }
    file->Binding().Started();
    const bool timed = timing.latency.count() > 0 || timing.bytesPerMillisecond > 0;
    if (timed) {
        transfer.due = DueTime(transfer.moved);
        pending.push_back(std::move(transfer));
        if (!engine.joinable()) engine = std::thread([this] { RunEngine(); });
        wake.notify_all();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    if (transfer.error == 0) Record(data, transfer.moved);
    const bool atOnce = timing.succeedAtOnce && transfer.error == 0;
    lock.unlock();
    // The packet is queued before the call returns, as Windows may do.
    file->Binding().Complete(overlapped, transfer.error, transfer.moved);
    if (atOnce) {
        if (transferred != nullptr) *transferred = transfer.moved;
        return TRUE;
    }
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

std::size_t VirtualDeviceImpl::Abort(DeviceFile* file, DWORD error) {
    std::vector<Transfer> aborted;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = pending.begin(); it != pending.end();) {
            if (file == nullptr || it->file.get() == file) {
                aborted.push_back(std::move(*it));
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        if (pending.empty()) busFreeAt = Clock::time_point{};
    }
    for (Transfer& transfer : aborted)
        transfer.file->Binding().Complete(transfer.overlapped, error, 0);
    return aborted.size();
}

void VirtualDeviceImpl::RunEngine() {
    // Wake-ups should be as punctual as the host allows: the default slack
    // of 50 us would be a noticeable part of a 1 ms USB frame.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !pending.empty() || !present; });
        // An unplugged device takes no more writes: its thread is done once
        // the last one has ended (the bus keeps the device itself alive).
        if (stopping || (!present && pending.empty())) return;
        const Clock::time_point due = pending.front().due;
        if (Clock::now() < due) {
            wake.wait_until(lock, due);
            continue;  // the front may have been aborted meanwhile
        }
        Transfer transfer = std::move(pending.front());
        pending.pop_front();
        // Bytes are taken when the write completes: a caller that changes
        // its buffer too early sends the wrong bytes, as on a real device.
        if (transfer.error == 0) Record(transfer.data, transfer.moved);
        lock.unlock();
        transfer.file->Binding().Complete(transfer.overlapped, transfer.error, transfer.moved);
        lock.lock();
    }
}

}  // namespace emu
