#include "platform/emu/desktops/gtk/gtk_thread.h"

#include <gtk/gtk.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/emu/desktops/gtk/gtk_display_watch.h"
#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {
namespace {

// Longer than the display watch takes to find a stopped server: a wait runs
// out only when the GTK thread itself is stuck.
constexpr std::chrono::seconds kAnswerWithin{10};

// The tasks wait in a queue of our own under a std::mutex, so that the
// handing over is visible to ThreadSanitizer, which does not see inside GLib.
class GtkThread : public GtkDisplay {
  public:
    bool Start() {
        std::thread([this] { Run(); }).detach();
        std::unique_lock<std::mutex> lock(mutex_);
        started_.wait(lock, [this] { return state_ != State::Starting; });
        return state_ == State::Running;
    }

    // Written before the start is announced, never after.
    const std::string& WhyNot() const { return whyNot_; }

    void Post(std::function<void()> task) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (lost_) return;
            tasks_.push_back(std::move(task));
        }
        g_idle_add(&GtkThread::Drain, this);
    }

    bool PostAndWait(std::function<void()> task) override {
        auto done = std::make_shared<bool>(false);
        Post([this, done, task = std::move(task)] {
            task();
            std::lock_guard<std::mutex> lock(mutex_);
            *done = true;
            changed_.notify_all();
        });
        std::unique_lock<std::mutex> lock(mutex_);
        if (changed_.wait_for(lock, kAnswerWithin, [&] { return *done || lost_; })) return *done;
        lock.unlock();
        Lose("the GTK thread did not answer for " + std::to_string(kAnswerWithin.count()) + " s");
        return false;
    }

    void OnLost(std::function<void(const std::string& why)> listener) override {
        std::string why;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!lost_) {
                listeners_.push_back(std::move(listener));
                return;
            }
            why = lostWhy_;
        }
        listener(why);
    }

  private:
    enum class State { Starting, Running, NoDisplay };

    void Run() {
        NameProgram();
        // X first, where a Wayland session also offers it (XWayland): only
        // an X display is watched, so only there is its loss a Cancel.
        // GDK_BACKEND, where set, still decides.
        gdk_set_allowed_backends("x11,*");
        // The variant with an error is the one that says why it failed.
        int argc = 0;
        char** argv = nullptr;
        GError* error = nullptr;
        const bool opened =
            gtk_init_with_args(&argc, &argv, nullptr, nullptr, nullptr, &error) != FALSE;
        if (opened) {
            SetProgramIcon();
            WatchDisplay([this](const std::string& why) { Lose(why); });
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = opened ? State::Running : State::NoDisplay;
            if (!opened) whyNot_ = error != nullptr ? error->message : "GTK could not start";
        }
        if (error != nullptr) g_error_free(error);
        started_.notify_all();
        if (opened) gtk_main();
    }

    // Once: what was handed over and not yet done is dropped, and every
    // waiter and listener is told.
    void Lose(const std::string& why) {
        std::vector<std::function<void(const std::string&)>> listeners;
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (lost_) return;
            lost_ = true;
            lostWhy_ = why;
            dropped.swap(tasks_);
            listeners.swap(listeners_);
            changed_.notify_all();
        }
        for (const auto& listener : listeners) listener(why);
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
    std::condition_variable changed_;  // a task waited for is done, or the display lost
    State state_ = State::Starting;
    std::string whyNot_;
    std::deque<std::function<void()>> tasks_;
    bool lost_ = false;
    std::string lostWhy_;
    std::vector<std::function<void(const std::string&)>> listeners_;
};

}  // namespace

GtkDisplay* OpenGtkDisplay(std::string* whyNot) {
    static GtkThread* const thread = new GtkThread;  // lives as long as the process
    static const bool running = thread->Start();
    if (!running) {
        if (whyNot != nullptr) *whyNot = thread->WhyNot();
        return nullptr;
    }
    return thread;
}

}  // namespace emu
