// Times the shipped bladepost.exe under Wine against two yardsticks, with a
// zero-latency stand-in cutter, and prints the figures:
//   - bytes per second sending a file, against bare_writer.exe on the same
//     stand-in cutter;
//   - process start to the file-open dialog on screen, against
//     open_dialog.exe, which only shows that dialog;
//   - the peak working set of each, as GetProcessMemoryInfo reports it.
// A send's rate is (big - small bytes) / (time of the big run - time of the
// small run), each from process start to exit, so that both programs' start
// and enumeration cancel out. Every figure is the median of RUNS runs.
//
//   wine_bench BLADEPOST BARE_WRITER OPEN_DIALOG FOLDER [BYTES]
//
// FOLDER receives the job files. Every wait is bounded.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32.h"

#include <psapi.h>  // after windows.h

namespace {

constexpr int kRuns = 5;
constexpr unsigned long kSmallBytes = 1024;
constexpr unsigned long kDefaultBigBytes = 16UL << 20;
constexpr DWORD kRunTimeoutMs = 120000;

double Now() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Run {
    double seconds = -1;  // start to exit, or to the dialog; -1 if it failed
    SIZE_T peakWorkingSet = 0;
};

struct Child {
    platform::UniqueHandle process;
    DWORD id = 0;
};

// Every program starts in the job folder, so both dialogs list the same files.
std::wstring workingFolder;

bool Start(const std::wstring& program, const std::wstring& arguments, Child* child) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.c_str(), &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    child->process.reset(info.hProcess);
    child->id = info.dwProcessId;
    return true;
}

void NotePeak(const Child& child, Run* run) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(child.process.get(), &counters, sizeof counters)) {
        run->peakWorkingSet = std::max(run->peakWorkingSet, counters.PeakWorkingSetSize);
    }
}

// Runs the program to its end; the time from start to exit, with `expected`
// as its exit code.
Run RunToEnd(const std::wstring& program, const std::wstring& arguments, DWORD expected) {
    Run run;
    Child child;
    const double start = Now();
    if (!Start(program, arguments, &child)) return run;
    const double deadline = start + kRunTimeoutMs / 1000.0;
    while (WaitForSingleObject(child.process.get(), 2) == WAIT_TIMEOUT) {
        NotePeak(child, &run);
        if (Now() > deadline) {
            TerminateProcess(child.process.get(), 255);
            return run;
        }
    }
    const double end = Now();
    DWORD code = 255;
    GetExitCodeProcess(child.process.get(), &code);
    if (code == expected) run.seconds = end - start;
    return run;
}

struct DialogSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<DialogSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[16] = L"";
    GetClassNameW(window, name, 16);
    if (process != search->process || !IsWindowVisible(window) || lstrcmpW(name, L"#32770") != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// The time from start until the program's file-open dialog is on screen;
// the dialog is then cancelled and the program must end.
Run RunToDialog(const std::wstring& program) {
    Run run;
    Child child;
    const double start = Now();
    if (!Start(program, L"", &child)) return run;
    DialogSearch search{child.id, nullptr};
    const double deadline = start + kRunTimeoutMs / 1000.0;
    while (search.found == nullptr && Now() < deadline &&
           WaitForSingleObject(child.process.get(), 0) == WAIT_TIMEOUT) {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) Sleep(1);
    }
    if (search.found != nullptr) run.seconds = Now() - start;
    NotePeak(child, &run);
    if (search.found != nullptr) PostMessageW(search.found, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(child.process.get(), 10000) != WAIT_OBJECT_0) {
        TerminateProcess(child.process.get(), 255);
        run.seconds = -1;
    }
    return run;
}

bool WriteJob(const std::wstring& path, unsigned long size) {
    platform::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> bytes(size);
    for (unsigned long i = 0; i < size; ++i) bytes[i] = static_cast<char>('A' + i % 26);
    DWORD written = 0;
    return file.valid() && WriteFile(file.get(), bytes.data(), size, &written, nullptr) &&
           written == size;
}

// Median seconds of kRuns runs, and the highest peak; false if any failed.
template <typename Measure>
bool Measured(Measure measure, double* seconds, SIZE_T* peak) {
    std::vector<double> times;
    *peak = 0;
    for (int i = 0; i < kRuns; ++i) {
        const Run run = measure();
        if (run.seconds < 0) return false;
        times.push_back(run.seconds);
        *peak = std::max(*peak, run.peakWorkingSet);
    }
    *seconds = Median(times);
    return true;
}

int Fail(const char* what) {
    std::printf("FAILED: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5 && argc != 6) {
        std::printf("usage: wine_bench BLADEPOST BARE_WRITER OPEN_DIALOG FOLDER [BYTES]\n");
        return 2;
    }
    const std::wstring program = argv[1], writer = argv[2], dialog = argv[3];
    workingFolder = argv[4];
    const std::wstring folder = workingFolder + L"\\";
    const unsigned long big = argc == 6 ? std::wcstoul(argv[5], nullptr, 10) : kDefaultBigBytes;
    const std::wstring small = folder + L"small.plt", large = folder + L"big.plt";
    if (big <= kSmallBytes || !WriteJob(small, kSmallBytes) || !WriteJob(large, big)) {
        return Fail("cannot write the job files");
    }
    // One stand-in cutter, taking each write at once, receiving into nothing.
    SetEnvironmentVariableW(L"EMU_USB_DEVICES", L"2E7A:4C01:0001A2:1");

    double programSmall, programBig, writerSmall, writerBig, programDialog, bareDialog;
    SIZE_T programPeak, programDialogPeak, writerPeak, bareDialogPeak, unused;
    if (!Measured([&] { return RunToEnd(program, small, 0); }, &programSmall, &unused) ||
        !Measured([&] { return RunToEnd(program, large, 0); }, &programBig, &programPeak)) {
        return Fail("bladepost did not send the job (exit code other than 0)");
    }
    if (!Measured([&] { return RunToEnd(writer, std::to_wstring(kSmallBytes), 0); }, &writerSmall,
                  &unused) ||
        !Measured([&] { return RunToEnd(writer, std::to_wstring(big), 0); }, &writerBig,
                  &writerPeak)) {
        return Fail("bare_writer did not send");
    }
    if (!Measured([&] { return RunToDialog(program); }, &programDialog, &programDialogPeak) ||
        !Measured([&] { return RunToDialog(dialog); }, &bareDialog, &bareDialogPeak)) {
        return Fail("a file-open dialog did not come, or its program did not end");
    }
    const double bytes = static_cast<double>(big - kSmallBytes);
    const double programRate = bytes / (programBig - programSmall);
    const double writerRate = bytes / (writerBig - writerSmall);
    std::printf("send %lu bytes, medians of %d runs\n", big, kRuns);
    std::printf("  bladepost     %10.0f bytes/s\n", programRate);
    std::printf("  bare writer   %10.0f bytes/s\n", writerRate);
    std::printf("  ratio         %10.1f %% (target >= 95 %%)\n", 100 * programRate / writerRate);
    std::printf("start to file-open dialog\n");
    std::printf("  bladepost     %10.1f ms\n", 1000 * programDialog);
    std::printf("  bare dialog   %10.1f ms\n", 1000 * bareDialog);
    std::printf("  ratio         %10.1f %% (target <= 110 %%)\n", 100 * programDialog / bareDialog);
    std::printf("peak working set\n");
    std::printf("  bladepost sending      %8.1f MiB\n", programPeak / 1048576.0);
    std::printf("  bladepost at dialog    %8.1f MiB\n", programDialogPeak / 1048576.0);
    std::printf("  bare writer sending    %8.1f MiB\n", writerPeak / 1048576.0);
    std::printf("  bare dialog            %8.1f MiB\n", bareDialogPeak / 1048576.0);
    return 0;
}
