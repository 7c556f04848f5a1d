#include "tests/soak/soak.h"

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>

#include "app/front_end_state.h"
#include "platform/emu/control.h"
#include "platform/emu/buses/virtual/virtual_usb.h"
#include "tests/support/deadline.h"
#include "tests/support/fresh_emulation.h"
#include "tests/support/job_pattern.h"
#include "tests/support/run_program.h"  // wWinMain
#include "tests/support/log_watch.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"
#include "usb/usb_listener.h"

namespace soak {
namespace {

// Far beyond the slowest run (200 chunks at 3 ms each under sanitizers).
constexpr std::chrono::seconds kRunDeadline(30);
constexpr std::size_t kChunkSize = 1024;
constexpr std::size_t kLargestFile = 200 * 1024;
// Message boxes answered by the script; no run shows nearly as many.
constexpr int kScriptedBoxes = 4;

const char kSendError[] = "An error occurred while sending data";
const char kEmptyFile[] = "The selected file is empty";
const char kOpenError[] = "Unable to estabilish communication with the device";

std::size_t Chunks(std::size_t bytes) {
    return (bytes + kChunkSize - 1) / kChunkSize;
}

// Threads of this process, the caller's included.
std::size_t ThreadCount() {
    std::size_t count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(tasks);
    }
    return count;
}

// A joined thread may linger in /proc/self/task for a moment.
std::size_t SettledThreadCount(std::size_t expected) {
    std::size_t count = ThreadCount();
    for (int i = 0; i < 200 && count > expected; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = ThreadCount();
    }
    return count;
}

// A pattern in which a lost, repeated or misplaced chunk shows; it differs
// from run to run, so bytes left over from an earlier run show too.
std::string JobBytes(const Plan& plan) {
    static_assert(kChunkSize == 1024, "the pattern's chunks are the transfer's");
    return JobPattern(plan.fileSize, plan.run);
}

const char* FaultName(Fault fault) {
    switch (fault) {
        case Fault::None:
            return "none";
        case Fault::OpenFails:
            return "open fails";
        case Fault::WriteFails:
            return "write fails";
        case Fault::ShortWrites:
            return "short writes";
        case Fault::Unplug:
            return "unplug";
        case Fault::CloseFails:
            return "close fails";
    }
    return "?";
}

class Report {
  public:
    explicit Report(std::string runName) : name(std::move(runName)) {}
    std::ostringstream& Add() {
        lines.emplace_back();
        lines.back() << name << ": ";
        return lines.back();
    }
    std::vector<std::string> Lines(const Plan& plan) const {
        std::vector<std::string> out;
        for (const auto& line : lines) out.push_back(line.str() + "\n  run: " + plan.Describe());
        return out;
    }

  private:
    std::string name;
    std::vector<std::ostringstream> lines;
};

}  // namespace

std::string Plan::Name() const {
    return "seed " + std::to_string(seed) + " run " + std::to_string(run);
}

std::string Plan::Describe() const {
    std::ostringstream text;
    text << fileSize << " bytes, " << cutters << (cutters == 1 ? " cutter" : " cutters")
         << " on port";
    for (std::size_t i = 0; i < ports.size(); ++i) text << (i == 0 ? " " : ",") << ports[i];
    text << ", output " << chosen << ", fault: " << FaultName(fault);
    switch (fault) {
        case Fault::OpenFails:
            text << " " << openFailures << "x";
            break;
        case Fault::WriteFails:
            text << " at write " << failingWrite << " with " << writeError
                 << (failsAtOnce ? " at once" : " on completion");
            break;
        case Fault::ShortWrites:
            text << " of at most " << acceptAtMost;
            break;
        case Fault::Unplug:
            text << " at " << unplugAt << "%";
            break;
        default:
            break;
    }
    if (cancelAt >= 0) text << ", Cancel at " << cancelAt << "%";
    if (latencyMicroseconds > 0) {
        text << ", latency " << latencyMicroseconds << " us";
    } else {
        text << ", instant" << (succeedAtOnce ? ", writes succeed at once" : "");
    }
    return text.str();
}

Plan MakePlan(std::uint64_t seed, unsigned long run) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(run)};
    std::mt19937_64 random(sequence);
    auto pick = [&random](long low, long high) {
        return std::uniform_int_distribution<long>(low, high)(random);
    };

    Plan plan;
    plan.seed = seed;
    plan.run = run;

    const long sizeKind = pick(0, 9);
    if (sizeKind < 3) {
        plan.fileSize = static_cast<std::size_t>(pick(1023, 1025));
    } else if (sizeKind == 3) {  // next to another chunk boundary
        plan.fileSize = static_cast<std::size_t>(
            std::min<long>(pick(1, 200) * kChunkSize + pick(-1, 1), kLargestFile));
    } else if (sizeKind == 4) {
        plan.fileSize = static_cast<std::size_t>(pick(0, 2));
    } else {
        plan.fileSize = static_cast<std::size_t>(pick(0, kLargestFile));
    }

    plan.cutters = static_cast<int>(pick(1, 3));
    std::vector<int> ports(9);
    std::iota(ports.begin(), ports.end(), 1);
    for (int i = 0; i < plan.cutters; ++i) {
        std::swap(ports[static_cast<std::size_t>(i)], ports[static_cast<std::size_t>(pick(i, 8))]);
        plan.ports.push_back(ports[static_cast<std::size_t>(i)]);
    }
    plan.chosen = static_cast<int>(pick(0, plan.cutters - 1));

    plan.fault = static_cast<Fault>(pick(0, 5));
    switch (plan.fault) {
        case Fault::OpenFails:
            plan.openFailures = static_cast<unsigned long>(pick(1, 2));
            break;
        case Fault::WriteFails: {
            // One past the last write: armed, never reached.
            plan.failingWrite = static_cast<unsigned long>(pick(1, Chunks(plan.fileSize) + 1));
            const unsigned long errors[] = {ERROR_GEN_FAILURE, ERROR_SEM_TIMEOUT,
                                            emu::kRemovedDeviceError, 0};
            plan.writeError = errors[pick(0, 3)];
            plan.failsAtOnce = pick(0, 1) == 1;
            break;
        }
        case Fault::ShortWrites:
            // A few bytes at a time only for small files: each write is a
            // round trip through the completion port.
            plan.acceptAtMost = static_cast<unsigned long>(
                plan.fileSize <= 8 * kChunkSize ? pick(1, 1023) : pick(64, 1023));
            break;
        case Fault::Unplug:
            plan.unplugAt = static_cast<int>(pick(0, 100));
            break;
        default:
            break;
    }
    if (pick(0, 3) == 0) plan.cancelAt = static_cast<int>(pick(0, 100));
    if (pick(0, 2) == 0) {
        plan.latencyMicroseconds = pick(0, 3000);
    } else {
        plan.succeedAtOnce = pick(0, 1) == 1;
    }
    return plan;
}

void Prepare(const std::string& folder) {
    static LogWatch log;
    // The first transfer of the process starts what every later one shares
    // (the I/O service's completion port): not a leak of any one run.
    Plan warmUp;
    warmUp.fileSize = 1025;
    warmUp.ports = {1};
    Play(warmUp, folder);
}

std::vector<std::string> Play(const Plan& plan, const std::string& folder) {
    Report report(plan.Name());
    const Deadline deadline(plan.Name() + " (" + plan.Describe() + ")", kRunDeadline);
    ResetEmulation();
    const std::size_t localBlocks = emu::LiveLocalBlocks();
    const std::size_t windows = emu::LiveWindowCount();
    const std::size_t kernelHandles = emu::OpenHandleCount();
    const std::size_t threads = ThreadCount();

    const std::string path = folder + "/job.plt";
    const std::string bytes = JobBytes(plan);
    WriteWholeFile(path, bytes);

    std::vector<std::shared_ptr<emu::VirtualDevice>> devices;
    for (int port : plan.ports) {
        emu::VirtualDeviceConfig config;
        config.productId = port % 2 == 0 ? 0x4C05 : 0x4C01;
        config.serial = "S" + std::to_string(port);
        config.locationPaths = {emu::PortLocationPath(port)};
        devices.push_back(emu::PlugIn(config));
    }
    // The output list is in port order.
    std::vector<std::size_t> byPort(devices.size());
    std::iota(byPort.begin(), byPort.end(), 0);
    std::sort(byPort.begin(), byPort.end(),
              [&](std::size_t a, std::size_t b) { return plan.ports[a] < plan.ports[b]; });
    std::shared_ptr<emu::VirtualDevice> target =
        devices[byPort[static_cast<std::size_t>(plan.chosen)]];

    for (const auto& device : devices) {
        device->SetTiming(
            {std::chrono::microseconds(plan.latencyMicroseconds), 0, plan.succeedAtOnce});
    }
    bool unplugged = false;  // set on the window's thread, read after the run
    bool cancelled = false;
    switch (plan.fault) {
        case Fault::OpenFails:
            emu::FailCall("WinUsb_Initialize", 1, ERROR_GEN_FAILURE, plan.openFailures);
            break;
        case Fault::WriteFails:
            target->FailWrite(plan.failingWrite, plan.writeError, plan.failsAtOnce);
            break;
        case Fault::ShortWrites:
            target->AcceptAtMost(plan.acceptAtMost);
            break;
        case Fault::Unplug:
            emu::ScriptProgress(plan.unplugAt, {emu::Call([&] {
                                    unplugged = true;
                                    emu::Unplug(target);
                                })});
            break;
        case Fault::CloseFails:
            target->FailClose(ERROR_GEN_FAILURE);
            break;
        default:
            break;
    }
    if (plan.cancelAt >= 0) {
        emu::ScriptProgress(plan.cancelAt,
                            {emu::Call([&] { cancelled = true; }), emu::PressCancel()});
    }
    for (int i = 0; i < kScriptedBoxes; ++i) emu::ScriptMessageBox(IDOK);
    std::wstring commandLine;
    if (plan.cutters == 1) {
        commandLine = Wide(path);
    } else {
        emu::ScriptFileDialog(
            {emu::PickOutput(plan.chosen), emu::TypeFileName(Wide(path)), emu::PressSend()});
    }

    const int exitCode =
        wWinMain(GetModuleHandleW(nullptr), nullptr, &commandLine[0], SW_SHOWNORMAL);

    // What the run did.
    const std::vector<unsigned char> got = target->Received();
    const std::string received(got.begin(), got.end());
    const bool prefix =
        received.size() <= bytes.size() && bytes.compare(0, received.size(), received) == 0;
    const bool whole = received == bytes;
    std::vector<std::string> boxes;
    for (const auto& box : emu::MessageBoxes()) boxes.push_back(box.text);
    const std::vector<int> positions = emu::ProgressPositions();
    auto boxList = [&boxes] {
        std::string list;
        for (const auto& text : boxes) list += " \"" + text + "\"";
        return boxes.empty() ? std::string(" none") : list;
    };

    if (exitCode != 0 && exitCode != 1) {
        // 2 would mean the file dialog ended without a file, yet Send was
        // pressed on an existing one.
        report.Add() << "exit code " << exitCode;
    }
    if (exitCode == 0 && !whole) {
        report.Add() << "exit 0 but the cutter holds " << received.size() << " of " << bytes.size()
                     << " bytes" << (prefix ? "" : ", not the file's beginning");
    }
    if (exitCode == 0 && !boxes.empty()) {
        report.Add() << "exit 0 after message boxes:" << boxList();
    }
    if (exitCode == 1 && !prefix) {
        report.Add() << "exit 1 and the cutter's " << received.size()
                     << " bytes are not the beginning of the file";
    }
    if (exitCode == 1 && whole && !bytes.empty() && plan.fault != Fault::CloseFails && !cancelled &&
        !unplugged) {
        // Only a failed close (the cutter may not have taken it all), or a
        // user or cable racing the last write, may fail a whole file.
        report.Add() << "exit 1 though the cutter holds the whole file; boxes:" << boxList();
    }
    if (exitCode == 1 && boxes.empty() && !cancelled) {
        report.Add() << "exit 1 without telling the user why";
    }
    if (!std::is_sorted(positions.begin(), positions.end())) {
        report.Add() << "the progress bar went back";
    }
    // Cancel may close the dialog after the last write has been accepted:
    // the file is sent, with the bar where the user left it.
    if (exitCode == 0 && !cancelled && (positions.empty() || positions.back() != 100)) {
        report.Add() << "exit 0 but the bar did not end at 100";
    }

    // Without a user or a cable in the way, each fault has one outcome.
    if (!cancelled && !unplugged) {
        const std::size_t chunks = Chunks(bytes.size());
        int expectedExit = 0;
        std::size_t expectedBytes = bytes.size();
        std::string expectedBox;
        bool known = true;
        if (bytes.empty()) {
            expectedExit = 1;
            expectedBox = kEmptyFile;
        } else if (plan.fault == Fault::OpenFails && plan.openFailures == 2) {
            expectedExit = 1;
            expectedBytes = 0;
            expectedBox = kOpenError;
        } else if (plan.fault == Fault::WriteFails && plan.failingWrite <= chunks) {
            // A write that succeeds with no bytes is left to the checks above.
            known = plan.writeError != 0;
            expectedExit = 1;
            expectedBytes = (plan.failingWrite - 1) * kChunkSize;
            expectedBox = kSendError;
        } else if (plan.fault == Fault::CloseFails) {
            expectedExit = 1;
            expectedBox = kSendError;
        }
        if (known) {
            if (exitCode != expectedExit) {
                report.Add() << "exit " << exitCode << ", expected " << expectedExit
                             << "; boxes:" << boxList();
            }
            if (received.size() != expectedBytes) {
                report.Add() << "the cutter holds " << received.size() << " bytes, expected "
                             << expectedBytes;
            }
            const std::vector<std::string> expectedBoxes =
                expectedBox.empty() ? std::vector<std::string>{}
                                    : std::vector<std::string>{expectedBox};
            if (boxes != expectedBoxes) {
                report.Add() << "message boxes:" << boxList() << ", expected "
                             << (expectedBox.empty() ? "none" : "\"" + expectedBox + "\"");
            }
        }
    }

    for (std::size_t i = 0; i < devices.size(); ++i) {
        const emu::VirtualDevice& device = *devices[i];
        const std::string which = "the cutter on port " + std::to_string(plan.ports[i]);
        if (devices[i] != target && (device.WriteCount() != 0 || device.ReceivedCount() != 0)) {
            report.Add() << which << ", not chosen, got " << device.WriteCount() << " writes";
        }
        if (device.OpenHandles() != 0) {
            report.Add() << which << " has " << device.OpenHandles() << " open handles";
        }
        if (device.OpenInterfaces() != 0) {
            report.Add() << which << " has " << device.OpenInterfaces() << " WinUSB interfaces";
        }
        if (device.PendingWrites() != 0) {
            report.Add() << which << " has " << device.PendingWrites() << " pending writes";
        }
    }

    devices.clear();
    target.reset();
    ResetEmulation();
    if (emu::LiveLocalBlocks() != localBlocks) {
        report.Add() << emu::LiveLocalBlocks() << " local memory blocks live, " << localBlocks
                     << " before";
    }
    if (emu::LiveWindowCount() != windows) {
        report.Add() << emu::LiveWindowCount() << " windows live, " << windows << " before";
    }
    if (emu::OpenHandleCount() != kernelHandles) {
        report.Add() << emu::OpenHandleCount() << " kernel handles open, " << kernelHandles
                     << " before";
    }
    // Unplugged, each cutter's own thread ends too. Fewer threads than before
    // is no fault: one joined at the end of the last run may have lingered.
    const std::size_t threadsAfter = SettledThreadCount(threads);
    if (threadsAfter > threads) {
        report.Add() << threadsAfter << " threads, " << threads << " before";
    }
    return report.Lines(plan);
}

}  // namespace soak
