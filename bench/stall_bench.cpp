// A cutter that stops taking data, and how quickly the program starts.
//
// 1. TransferFile to a cutter whose first write stays pending: the CPU time
//    the whole process uses while it waits (target: under 1 % of one core),
//    then the time from Cancel to TransferFile returning (target: 100 ms).
// 2. The program `bladepost` started as a process: the time from its start
//    until the file dialog is up (no cutter, the scripted user cancels at
//    once: the process's whole life bounds it), and with one cutter and a
//    file on the command line, until the cutter has the first byte.
//
//   stall_bench BLADEPOST_PROGRAM [stall-seconds]   (default 5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "app/transfer.h"
#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "resources/resource.h"
#include "tests/support/temp_folder.h"
#include "usb/usb_listener.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

[[noreturn]] void Fail(const char* why) {
    std::fprintf(stderr, "stall_bench: %s\n", why);
    std::exit(1);
}

// The progress dialog, once it is shown; null if it never comes.
HWND WaitForProgressDialog() {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        for (const emu::DialogView& view : emu::ShownDialogs()) {
            if (view.templateId == IDD_PROGRESS) return view.window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return nullptr;
}

void MeasureStall(const TempFolder& folder, int stallSeconds) {
    emu::UseScriptedDesktop();
    auto cutter = emu::PlugIn({});
    cutter->SetTiming({std::chrono::hours(1), 0, false});  // the first write never ends
    usbListener.Init(false);
    const std::string path = folder / "stall.plt";
    std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
    const std::wstring widePath(path.begin(), path.end());

    Clock::time_point returned;
    std::thread user([&] {
        InitCommonControls();  // the progress bar's class, as wWinMain makes it
        const bool sent =
            TransferFile(widePath.c_str(), usbListener.connectedCutters.begin()->second);
        returned = Clock::now();
        if (sent) Fail("the stalled transfer reported success");
    });
    HWND dialog = WaitForProgressDialog();
    if (dialog == nullptr) Fail("no progress dialog within 10 s");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let it settle into waiting

    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(stallSeconds));
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();

    const auto cancelled = Clock::now();
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // as the Cancel button does
    user.join();
    std::printf(
        "stalled cutter for %.1f s: process CPU %.3f ms, %.3f %% of one core "
        "(target < 1 %%)\n",
        wall, cpu * 1000, 100 * cpu / wall);
    std::printf("Cancel to TransferFile returning: %.2f ms (target < 100 ms)\n",
                Milliseconds(returned - cancelled));
    usbListener.connectedCutters.clear();
    emu::UnplugAll();
}

// Starts `program` with `arguments` and `environment` added; its process ID.
pid_t Start(const std::string& program, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment) {
    std::vector<std::string> storage = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) storage.push_back(*entry);
    std::vector<char*> env;
    for (std::string& entry : storage) env.push_back(&entry[0]);
    env.push_back(nullptr);
    std::vector<std::string> args = {program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), env.data()) != 0) {
        Fail("cannot start the program");
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

off_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : 0;
}

void MeasureStart(const TempFolder& folder, const std::string& program) {
    constexpr int kRounds = 10;
    std::vector<double> toDialog, toFirstByte;
    const std::string job = folder / "start.plt";
    std::ofstream(job, std::ios::binary) << std::string(20000, 'y');
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        if (Wait(Start(program, {}, {"EMU_DESKTOP=scripted", "EMU_USB_DEVICES="})) != 2) {
            Fail("without a cutter the program did not end with 2");
        }
        toDialog.push_back(Milliseconds(Clock::now() - start));

        const std::string received = folder / ("received-" + std::to_string(round));
        start = Clock::now();
        const pid_t pid =
            Start(program, {job},
                  {"EMU_DESKTOP=scripted", "EMU_USB_DEVICES=2E7A:4C01:0001A2:1:" + received});
        while (SizeOf(received) == 0 && Clock::now() - start < std::chrono::seconds(10)) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        toFirstByte.push_back(Milliseconds(Clock::now() - start));
        if (Wait(pid) != 0 || SizeOf(received) != 20000) Fail("the job was not sent");
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    std::printf("process start to the file dialog, and its end: median %.1f ms of %d runs\n",
                median(toDialog), kRounds);
    std::printf(
        "process start to the first byte at the cutter (one cutter, file named): "
        "median %.1f ms of %d runs\n",
        median(toFirstByte), kRounds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Fail("usage: stall_bench BLADEPOST_PROGRAM [stall-seconds]");
    const int stallSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    TempFolder folder;
    MeasureStall(folder, stallSeconds);
    MeasureStart(folder, argv[1]);
    return 0;
}
