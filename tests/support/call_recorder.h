// Records the calls of a completion callback, for tests that wait for them
// from another thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CallRecorder {
  public:
    struct Call {
        bool ok;
        std::thread::id thread;
    };

    std::function<void(bool)> Callback() {
        return [this](bool ok) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back({ok, std::this_thread::get_id()});
            changed.notify_all();
        };
    }

    // Waits (generously) until `count` calls have been made.
    bool WaitFor(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return calls.size() >= count; });
    }

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Call> calls;
};
