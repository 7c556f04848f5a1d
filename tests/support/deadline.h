// Ends the test process, saying what it waited for, when a run outlives its
// deadline: a hang fails in seconds, not at the test runner's time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

class Deadline {
  public:
    Deadline(std::string what, std::chrono::seconds limit)
        : thread([this, what, limit] { Watch(what, limit); }) {}
    ~Deadline() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        wake.notify_all();
        thread.join();
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    void Watch(const std::string& what, std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!wake.wait_for(lock, limit, [this] { return done; })) {
            std::fprintf(stderr, "FAILED: %s did not end within %lld s\n", what.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
    }

    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    std::thread thread;  // last: starts once the rest is ready
};
