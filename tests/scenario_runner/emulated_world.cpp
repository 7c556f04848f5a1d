#include "tests/scenario_runner/emulated_world.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

void OtherProgram::Start(const std::string& path, const std::wstring& devicePath,
                         std::vector<std::string>* problems) {
    bytes = ReadWholeFile(path);
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
        WinUsb_WritePipe(usb, 0x02, reinterpret_cast<PUCHAR>(&bytes[i * 1024]), size, nullptr,
                         &writes[i]);
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

EmulatedWorld::EmulatedWorld(const scenario::Scenario& played, std::string folder,
                             std::vector<std::string>* seenProblems)
    : s(played), jobFolder(std::move(folder)), problems(seenProblems) {}

void EmulatedWorld::SetUp() {
    MakeJobsAndFaults(s, jobFolder, &locks);
    for (const scenario::Cutter& cutter : s.cutters) {
        if (!cutter.absent) Plug(cutter.number);
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

void EmulatedWorld::StartOtherProgram() {
    other.Start(scenario::Expand(s.otherProgram, jobFolder), devices.begin()->second->DevicePath(),
                problems);
}

void EmulatedWorld::FinishOtherProgram() {
    if (!s.hasOtherProgram) return;
    const auto& cutter = devices.begin()->second;
    other.Finish([&] { return cutter->PendingWrites(); }, problems);
}

std::map<int, std::string> EmulatedWorld::Received() const {
    std::map<int, std::string> received;
    for (const auto& device : devices) {
        const std::vector<unsigned char> bytes = device.second->Received();
        received[device.first] = std::string(bytes.begin(), bytes.end());
    }
    return received;
}
