#include "platform/emu/kernel32/completion_port.h"

#include "platform/emu/faults.h"
#include "platform/emu/kernel32/kernel_api.h"

namespace emu {

void CompletionPort::Post(const CompletionPacket& packet) {
    Listener deliver;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!listener) {
            packets.push_back(packet);
            changed.notify_all();
            return;
        }
        deliver = listener;
    }
    deliver(packet);
}

bool CompletionPort::Get(CompletionPacket* packet, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, timeout, [this] { return !packets.empty(); })) return false;
    *packet = packets.front();
    packets.pop_front();
    return true;
}

void CompletionPort::SetListener(Listener newListener) {
    std::lock_guard<std::mutex> lock(mutex);
    listener = std::move(newListener);
}

void CompletionPort::IoStarted() {
    std::lock_guard<std::mutex> lock(mutex);
    ++outstanding;
}

void CompletionPort::IoCompleted(const CompletionPacket& packet) {
    Post(packet);
    std::lock_guard<std::mutex> lock(mutex);
    --outstanding;
    changed.notify_all();
}

bool CompletionPort::WaitForIdle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return outstanding <= 0; });
}

bool PortBinding::Bind(std::shared_ptr<CompletionPort> newPort, ULONG_PTR newKey) {
    std::lock_guard<std::mutex> lock(mutex);
    if (port) return false;  // a handle belongs to one port for life
    port = std::move(newPort);
    key = newKey;
    return true;
}

void PortBinding::Started() {
    std::lock_guard<std::mutex> lock(mutex);
    if (port) port->IoStarted();
}

void PortBinding::Complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes) {
    std::shared_ptr<CompletionPort> target;
    ULONG_PTR targetKey;
    {
        std::lock_guard<std::mutex> lock(mutex);
        target = port;
        targetKey = key;
    }
    overlapped->Internal = error;
    overlapped->InternalHigh = bytes;
    if (target) target->IoCompleted({targetKey, overlapped, error, bytes});
}

}  // namespace emu

HANDLE WINAPI CreateIoCompletionPort(HANDLE fileHandle, HANDLE existingPort,
                                     ULONG_PTR completionKey, DWORD) {
    if (emu::InjectedFailure("CreateIoCompletionPort")) return nullptr;
    if (fileHandle == INVALID_HANDLE_VALUE) {
        if (existingPort != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return emu::InsertHandle(std::make_shared<emu::CompletionPort>());
    }
    auto object = emu::LookupHandleAs<emu::OverlappedObject>(fileHandle);
    // Without an existing port, Windows makes one and binds the file to it.
    auto port = existingPort == nullptr ? std::make_shared<emu::CompletionPort>()
                                        : emu::LookupHandleAs<emu::CompletionPort>(existingPort);
    if (!object || !port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!object->IsOverlapped() || !object->Binding().Bind(port, completionKey)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return existingPort != nullptr ? existingPort : emu::InsertHandle(port);
}

BOOL WINAPI GetQueuedCompletionStatus(HANDLE portHandle, LPDWORD bytesTransferred,
                                      ULONG_PTR* completionKey, LPOVERLAPPED* overlapped,
                                      DWORD milliseconds) {
    auto port = emu::LookupHandleAs<emu::CompletionPort>(portHandle);
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    emu::CompletionPacket packet{};
    auto timeout = milliseconds == INFINITE ? std::chrono::milliseconds(24L * 3600 * 1000)
                                            : std::chrono::milliseconds(milliseconds);
    if (!port->Get(&packet, timeout)) {
        *overlapped = nullptr;
        SetLastError(WAIT_TIMEOUT);
        return FALSE;
    }
    *bytesTransferred = packet.bytes;
    *completionKey = packet.key;
    *overlapped = packet.overlapped;
    if (packet.error != 0) {
        SetLastError(packet.error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI PostQueuedCompletionStatus(HANDLE portHandle, DWORD bytesTransferred,
                                       ULONG_PTR completionKey, LPOVERLAPPED overlapped) {
    auto port = emu::LookupHandleAs<emu::CompletionPort>(portHandle);
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    port->Post({completionKey, overlapped, 0, bytesTransferred});
    return TRUE;
}
