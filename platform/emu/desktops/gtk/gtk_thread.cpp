#include "platform/emu/desktops/gtk/gtk_thread.h"

#include <gtk/gtk.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {
namespace {

// The tasks wait in a queue of our own under a std::mutex, so that the
// handing over is visible to ThreadSanitizer, which does not see inside GLib.
class GtkThread {
  public:
    bool Start() {
        std::thread([this] { Run(); }).detach();
        std::unique_lock<std::mutex> lock(mutex_);
        started_.wait(lock, [this] { return state_ != State::Starting; });
        return state_ == State::Running;
    }

    // Written before the start is announced, never after.
    const std::string& WhyNot() const { return whyNot_; }

    void Post(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        g_idle_add(&GtkThread::Drain, this);
    }

  private:
    enum class State { Starting, Running, NoDisplay };

    void Run() {
        NameProgram();
        // The variant with an error is the one that says why it failed.
        int argc = 0;
        char** argv = nullptr;
        GError* error = nullptr;
        const bool opened =
            gtk_init_with_args(&argc, &argv, nullptr, nullptr, nullptr, &error) != FALSE;
        if (opened) SetProgramIcon();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = opened ? State::Running : State::NoDisplay;
            if (!opened) whyNot_ = error != nullptr ? error->message : "GTK could not start";
        }
        if (error != nullptr) g_error_free(error);
        started_.notify_all();
        if (opened) gtk_main();
    }

    static gboolean Drain(gpointer self) {
        auto* thread = static_cast<GtkThread*>(self);
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(thread->mutex_);
                if (thread->tasks_.empty()) return G_SOURCE_REMOVE;
                task = std::move(thread->tasks_.front());
                thread->tasks_.pop_front();
            }
            task();
        }
    }

    std::mutex mutex_;
    std::condition_variable started_;
    State state_ = State::Starting;
    std::string whyNot_;
    std::deque<std::function<void()>> tasks_;
};

}  // namespace

GtkPoster OpenGtkDisplay(std::string* whyNot) {
    static GtkThread* const thread = new GtkThread;  // lives as long as the process
    static const bool running = thread->Start();
    if (!running) {
        if (whyNot != nullptr) *whyNot = thread->WhyNot();
        return nullptr;
    }
    return [](std::function<void()> task) { thread->Post(std::move(task)); };
}

}  // namespace emu
