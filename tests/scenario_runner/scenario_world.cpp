#include "tests/scenario_runner/scenario_world.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

void MakeJobsAndFaults(const scenario::Scenario& s, const std::string& jobFolder,
                       std::deque<platform::UniqueHandle>* locks) {
    for (const scenario::Job& job : s.jobs) {
        WriteWholeFile(jobFolder + job.name, scenario::JobBytes(job));
        if (!job.locked) continue;
        const std::wstring path = Wide(jobFolder + job.name);
        locks->emplace_back(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    for (const scenario::Fault& fault : s.faults) {
        emu::FailCall(fault.function, fault.nth, static_cast<DWORD>(fault.error), fault.times);
    }
}

namespace {

// The other program has sent its file within this.
constexpr std::chrono::seconds kOtherProgramDeadline(60);

}  // namespace

void OtherProgram::Start(const std::string& path, const std::wstring& devicePath,
                         std::vector<std::string>* problems) {
    std::ifstream input(path, std::ios::binary | std::ios::ate);
    bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(input.tellg(), 0)));
    input.seekg(0);
    input.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.reset(CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (!file.valid() || !WinUsb_Initialize(file.get(), &usb)) {
        problems->push_back(std::string("the other program cannot ") +
                            (file.valid() ? "initialize" : "open") + " the cutter (" +
                            std::to_string(GetLastError()) + ")");
        return;
    }
    writes.resize((bytes.size() + 1023) / 1024);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const ULONG size = static_cast<ULONG>(std::min<std::size_t>(1024, bytes.size() - i * 1024));
        WinUsb_WritePipe(usb, 0x02, &bytes[i * 1024], size, nullptr, &writes[i]);
    }
}

void OtherProgram::Finish(const std::function<int()>& pending, std::vector<std::string>* problems) {
    const auto deadline = std::chrono::steady_clock::now() + kOtherProgramDeadline;
    while (pending() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (const OVERLAPPED& write : writes) {
        if (write.Internal != 0) {
            problems->push_back("the other program's write failed (" +
                                std::to_string(write.Internal) + ")");
            break;
        }
    }
    if (usb != nullptr) WinUsb_Free(usb);
    file.reset();
}
