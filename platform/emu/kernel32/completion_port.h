// The emulated I/O completion port, and the binding of overlapped kernel
// objects to it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/emu/kernel32/handle_table.h"

namespace emu {

struct CompletionPacket {
    ULONG_PTR key;
    OVERLAPPED* overlapped;
    DWORD error;  // the I/O's status as a Windows error code, 0 for success
    DWORD bytes;
};

class CompletionPort : public KernelObject {
  public:
    using Listener = std::function<void(const CompletionPacket&)>;

    // Queues a packet, or hands it to the listener when one is set.
    void Post(const CompletionPacket& packet);
    // Dequeues a packet; false when none arrived within `timeout`.
    bool Get(CompletionPacket* packet, std::chrono::milliseconds timeout);
    // Packets go to `listener` from now on, on the thread that completes the I/O.
    void SetListener(Listener listener);

    // Overlapped I/O started on a handle bound to this port and not yet
    // completed: a port's owner waits for it to drain before it goes away.
    void IoStarted();
    void IoCompleted(const CompletionPacket& packet);
    bool WaitForIdle(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<CompletionPacket> packets;
    Listener listener;
    long outstanding = 0;
};

// The binding that CreateIoCompletionPort made for an overlapped object.
class PortBinding {
  public:
    bool Bind(std::shared_ptr<CompletionPort> port, ULONG_PTR key);
    // Completes an overlapped request: its packet goes to the bound port, or
    // only into the OVERLAPPED block when the object is not bound.
    void Complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes);
    // Counts a request that will complete through Complete later.
    void Started();

  private:
    std::mutex mutex;
    std::shared_ptr<CompletionPort> port;
    ULONG_PTR key = 0;
};

// Overlapped kernel objects (device files) derive from this.
class OverlappedObject : public KernelObject {
  public:
    explicit OverlappedObject(bool overlapped) : isOverlapped(overlapped) {}
    bool IsOverlapped() const override { return isOverlapped; }
    PortBinding& Binding() { return binding; }

  private:
    const bool isOverlapped;
    PortBinding binding;
};

}  // namespace emu
