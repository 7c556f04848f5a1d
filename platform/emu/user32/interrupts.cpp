#include "platform/emu/user32/interrupts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/emu/user32/user_api.h"

namespace emu {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Interrupts {
    std::mutex mutex;
    std::vector<HWND> dialogs;  // the most recent last
    std::vector<std::function<void(int)>> observers;
    std::vector<std::function<void(const std::string&)>> displayObservers;
    int pipe[2] = {-1, -1};
    volatile std::sig_atomic_t received = 0;
    int pending = 0;  // a signal that came while no dialog was up
};

// Lock-free, so the signal handler may read it.
std::atomic<void (*)()> restoreOnExit{nullptr};

void RestoreTerminal() {
    if (auto restore = restoreOnExit.load()) restore();
}

Interrupts& TheInterrupts() {
    static Interrupts* interrupts = new Interrupts;  // the watcher outlives static destruction
    return *interrupts;
}

// Only async-signal-safe calls: the first signal goes to the watcher
// through the pipe, a second one ends the process by its default action.
void OnSignal(int number) {
    Interrupts& interrupts = TheInterrupts();
    if (interrupts.received++ > 0) {
        RestoreTerminal();
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    const unsigned char byte = static_cast<unsigned char>(number);
    const int saved = errno;
    if (::write(interrupts.pipe[1], &byte, 1) != 1) std::_Exit(1);
    errno = saved;
}

// Between dialogs a cutter may be open (in shortcut mode it is, before the
// progress dialog comes up): a signal then waits for the next dialog, which
// is cancelled as it shows, so the cleanup still runs.
void Cancel(int number) {
    Interrupts& interrupts = TheInterrupts();
    std::vector<std::function<void(int)>> observers;
    {
        std::lock_guard<std::mutex> lock(interrupts.mutex);
        observers = interrupts.observers;
    }
    for (const auto& observer : observers) observer(number);
    for (;;) {
        HWND dialog = nullptr;
        {
            std::lock_guard<std::mutex> lock(interrupts.mutex);
            if (interrupts.dialogs.empty()) {
                interrupts.pending = number;
                return;
            }
            dialog = interrupts.dialogs.back();
        }
        // As the Cancel button and Escape do; the file dialog's Cancel too.
        if (PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0)) return;
        CancellableGone(dialog);  // destroyed before it said so
    }
}

void Watch() {
    Interrupts& interrupts = TheInterrupts();
    for (;;) {
        unsigned char number = 0;
        const ssize_t got = ::read(interrupts.pipe[0], &number, 1);
        if (got == 1) Cancel(number);
        if (got < 0 && errno != EINTR) return;
    }
}

}  // namespace

// At the start of the process, before anything is opened; the first dialog
// installs them too, for programs that start elsewhere.
void InstallInterrupts() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        Interrupts& interrupts = TheInterrupts();
        if (::pipe2(interrupts.pipe, O_CLOEXEC) != 0) return;
        std::thread(Watch).detach();
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : kSignals) {
            struct sigaction previous {};
            // A signal the process was told to ignore (nohup) stays ignored.
            if (::sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
                continue;
            ::sigaction(number, &action, nullptr);
        }
    });
}

void CancellableShown(HWND top) {
    InstallInterrupts();
    Interrupts& interrupts = TheInterrupts();
    int pending = 0;
    {
        std::lock_guard<std::mutex> lock(interrupts.mutex);
        interrupts.dialogs.push_back(top);
        std::swap(pending, interrupts.pending);
    }
    if (pending != 0) PostMessageW(top, WM_COMMAND, IDCANCEL, 0);
}

void CancellableGone(HWND top) {
    Interrupts& interrupts = TheInterrupts();
    std::lock_guard<std::mutex> lock(interrupts.mutex);
    auto& dialogs = interrupts.dialogs;
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), top), dialogs.end());
}

void OnSignalExit(void (*restore)()) {
    restoreOnExit = restore;
}

void ReportDisplayLost(const std::string& why) {
    Interrupts& interrupts = TheInterrupts();
    std::vector<std::function<void(const std::string&)>> observers;
    {
        std::lock_guard<std::mutex> lock(interrupts.mutex);
        observers = interrupts.displayObservers;
    }
    for (const auto& observer : observers) observer(why);
}

void OnDisplayLost(std::function<void(const std::string& why)> observer) {
    Interrupts& interrupts = TheInterrupts();
    std::lock_guard<std::mutex> lock(interrupts.mutex);
    interrupts.displayObservers.push_back(std::move(observer));
}

void OnInterrupt(std::function<void(int)> observer) {
    Interrupts& interrupts = TheInterrupts();
    std::lock_guard<std::mutex> lock(interrupts.mutex);
    interrupts.observers.push_back(std::move(observer));
}

}  // namespace emu
