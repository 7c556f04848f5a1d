#include "platform/emu/user32/message_queue.h"

#include <atomic>
#include <chrono>
#include <unordered_map>

#include "platform/emu/kernel32/kernel_api.h"
#include "platform/emu/user32/window_table.h"

namespace emu {
namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<MessageQueue>> queues;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // threads may end during exit
    return *registry;
}

// Registers the thread's queue while the thread lives.
struct ThreadQueue {
    DWORD thread;
    std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();

    ThreadQueue() : thread(GetCurrentThreadId()) {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.queues[thread] = queue;
    }
    ~ThreadQueue() {
        {
            Registry& registry = TheRegistry();
            std::lock_guard<std::mutex> lock(registry.mutex);
            registry.queues.erase(thread);
        }
        queue->Abandon();
    }
};

bool Matches(const MSG& msg, HWND window, UINT first, UINT last) {
    if (window != nullptr && msg.hwnd != window) return false;
    if (first == 0 && last == 0) return true;
    return msg.message >= first && msg.message <= last;
}

}  // namespace

void MessageQueue::Post(const MSG& msg) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(msg);
        ++changes_;
    }
    posted_.notify_all();
}

bool MessageQueue::Send(const std::shared_ptr<SentMessage>& sent) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (abandoned_) return false;
        sent_.push_back(sent);
        ++changes_;
    }
    posted_.notify_all();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!sent->done && !abandoned_) {
        if (delivered_.wait_for(lock, std::chrono::milliseconds(5), [&] { return sent->done; })) {
            break;
        }
        lock.unlock();
        CurrentQueue().DeliverSent();  // someone may be waiting for us meanwhile
        lock.lock();
    }
    return sent->done;
}

void MessageQueue::DeliverSent() {
    for (;;) {
        std::shared_ptr<SentMessage> next;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (sent_.empty()) return;
            next = sent_.front();
            sent_.pop_front();
        }
        const MSG& msg = next->msg;
        const LRESULT result = CallWindow(msg.hwnd, msg.message, msg.wParam, msg.lParam);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            next->result = result;
            next->done = true;
        }
        delivered_.notify_all();
    }
}

void MessageQueue::Abandon() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        sent_.clear();
    }
    delivered_.notify_all();
}

void MessageQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
    quit_ = false;
    quitCode_ = 0;
}

void MessageQueue::PostQuit(int exitCode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        quitCode_ = exitCode;
        ++changes_;
    }
    posted_.notify_all();
}

bool MessageQueue::TakeLocked(MSG* msg, HWND window, UINT first, UINT last) {
    for (auto it = messages_.begin(); it != messages_.end(); ++it) {
        if (Matches(*it, window, first, last)) {
            *msg = *it;
            messages_.erase(it);
            return true;
        }
    }
    if (quit_) {
        // Windows makes WM_QUIT only when no posted message waits.
        quit_ = false;
        *msg = MSG{};
        msg->message = WM_QUIT;
        msg->wParam = static_cast<WPARAM>(quitCode_);
        return true;
    }
    return false;
}

void MessageQueue::Take(MSG* msg, HWND window, UINT first, UINT last,
                        const std::function<void()>& idle) {
    for (;;) {
        DeliverSent();  // sent messages are handled inside the wait, never returned
        unsigned long seen;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!sent_.empty()) continue;
            if (TakeLocked(msg, window, first, last)) return;
            seen = changes_;
        }
        idle();
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait(lock, [&] { return changes_ != seen; });
    }
}

bool MessageQueue::TryTake(MSG* msg, HWND window, UINT first, UINT last, bool remove) {
    DeliverSent();
    std::lock_guard<std::mutex> lock(mutex_);
    if (remove) return TakeLocked(msg, window, first, last);
    const std::deque<MSG> messages = messages_;
    const bool quit = quit_;
    const bool found = TakeLocked(msg, window, first, last);
    messages_ = messages;
    quit_ = quit;
    return found;
}

MessageQueue& CurrentQueue() {
    thread_local ThreadQueue mine;
    return *mine.queue;
}

std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto it = registry.queues.find(threadId);
    return it == registry.queues.end() ? nullptr : it->second;
}

}  // namespace emu

DWORD WINAPI GetCurrentThreadId() {
    static std::atomic<DWORD> next{0x1004};
    thread_local DWORD mine = next.fetch_add(4);
    return mine;
}
