#include "tests/scenario_runner/emulated_world.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

namespace {

// The other program has sent its file within this.
constexpr std::chrono::seconds kOtherProgramDeadline(60);

}  // namespace

EmulatedWorld::EmulatedWorld(const scenario::Scenario& played, std::string folder,
                             std::vector<std::string>* seenProblems)
    : s(played), jobFolder(std::move(folder)), problems(seenProblems) {}

void EmulatedWorld::SetUp() {
    for (const scenario::Job& job : s.jobs) {
        WriteWholeFile(jobFolder + job.name, scenario::JobBytes(job));
        if (!job.locked) continue;
        const std::wstring path = Wide(jobFolder + job.name);
        locks.emplace_back(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    for (const scenario::Cutter& cutter : s.cutters) {
        if (!cutter.absent) Plug(cutter.number);
    }
    for (const scenario::Fault& fault : s.faults) {
        emu::FailCall(fault.function, fault.nth, static_cast<DWORD>(fault.error), fault.times);
    }
    if (s.hasOtherProgram) StartOtherProgram();
}

void EmulatedWorld::Plug(int number) {
    const scenario::Cutter& cutter = *s.FindCutter(number);
    emu::VirtualDeviceConfig config;
    config.vendorId = cutter.vendorId;
    config.productId = cutter.productId;
    config.serial = cutter.serial;
    config.winUsb = !cutter.otherDriver;
    config.locationPaths = {emu::PortLocationPath(cutter.port)};
    auto device = emu::PlugIn(config);
    if (cutter.slowMs != 0) {
        device->SetTiming({std::chrono::milliseconds(cutter.slowMs), 0, false});
    }
    if (cutter.closeFails) device->FailClose(ERROR_INVALID_HANDLE);
    devices[number] = device;
}

void EmulatedWorld::Unplug(int number) {
    emu::Unplug(devices.at(number));
}

// The other program, played here: it has the only cutter open and its
// file's writes queued before the program starts, in chunks as the
// program sends them.
void EmulatedWorld::StartOtherProgram() {
    std::ifstream file(scenario::Expand(s.otherProgram, jobFolder),
                       std::ios::binary | std::ios::ate);
    other.bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(other.bytes.data()),
              static_cast<std::streamsize>(other.bytes.size()));
    const std::wstring path = devices.begin()->second->DevicePath();
    other.file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (!other.file.valid() || !WinUsb_Initialize(other.file.get(), &other.usb)) {
        problems->push_back("the other program cannot open the cutter");
        return;
    }
    other.writes.resize((other.bytes.size() + 1023) / 1024);
    for (std::size_t i = 0; i < other.writes.size(); ++i) {
        const ULONG size =
            static_cast<ULONG>(std::min<std::size_t>(1024, other.bytes.size() - i * 1024));
        WinUsb_WritePipe(other.usb, 0x02, &other.bytes[i * 1024], size, nullptr, &other.writes[i]);
    }
}

void EmulatedWorld::FinishOtherProgram() {
    if (!s.hasOtherProgram) return;
    const auto& cutter = devices.begin()->second;
    const auto deadline = std::chrono::steady_clock::now() + kOtherProgramDeadline;
    while (cutter->PendingWrites() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (const OVERLAPPED& write : other.writes) {
        if (write.Internal != 0) {
            problems->push_back("the other program's write failed (" +
                                std::to_string(write.Internal) + ")");
            break;
        }
    }
    if (other.usb != nullptr) WinUsb_Free(other.usb);
    other.file.reset();
}

std::map<int, std::string> EmulatedWorld::Received() const {
    std::map<int, std::string> received;
    for (const auto& device : devices) {
        const std::vector<unsigned char> bytes = device.second->Received();
        received[device.first] = std::string(bytes.begin(), bytes.end());
    }
    return received;
}
