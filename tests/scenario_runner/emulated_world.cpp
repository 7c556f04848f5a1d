#include "tests/scenario_runner/emulated_world.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/emu/control.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

void OtherProgram::Start(const std::string& path, const std::wstring& devicePath,
                         std::vector<std::string>* problems) {
    bytes = ReadWholeFile(path);
    file.reset(CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
    if (file.valid()) port.reset(CreateIoCompletionPort(file.get(), nullptr, 0, 1));
    if (!file.valid() || !port.valid() || !WinUsb_Initialize(file.get(), &usb)) {
        problems->push_back(std::string("the other program cannot ") +
                            (!file.valid()   ? "open"
                             : !port.valid() ? "watch"
                                             : "initialize") +
                            " the cutter (" + std::to_string(GetLastError()) + ")");
        return;
    }
    writes.resize((bytes.size() + 1023) / 1024);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const ULONG size = static_cast<ULONG>(std::min<std::size_t>(1024, bytes.size() - i * 1024));
        if (!WinUsb_WritePipe(usb, 0x02, reinterpret_cast<PUCHAR>(&bytes[i * 1024]), size, nullptr,
                              &writes[i]) &&
            GetLastError() != ERROR_IO_PENDING) {
            problems->push_back("the other program's write was refused (" +
                                std::to_string(GetLastError()) + ")");
            break;
        }
        ++outstanding;  // a write that succeeds at once still posts its completion
    }
}

void OtherProgram::AwaitWrites(std::chrono::steady_clock::time_point deadline, DWORD* failure) {
    while (outstanding != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        DWORD moved = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* ended = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(port.get(), &moved, &key, &ended,
                                                  static_cast<DWORD>(left.count()));
        if (ended == nullptr) return;  // timed out
        --outstanding;
        if (!ok && *failure == 0) *failure = GetLastError();
    }
}

void OtherProgram::Finish(std::vector<std::string>* problems) {
    DWORD failure = 0;
    AwaitWrites(std::chrono::steady_clock::now() + kOtherProgramDeadline, &failure);
    if (outstanding != 0) {
        problems->push_back("the other program's writes did not end within " +
                            std::to_string(kOtherProgramDeadline.count()) + " s (" +
                            std::to_string(outstanding) + " left)");
    } else if (failure != 0) {
        problems->push_back("the other program's write failed (" + std::to_string(failure) + ")");
    }
    Close();
}

void OtherProgram::Close() {
    // Cancelled, not only closed: a cutter whose close fails keeps them.
    if (outstanding != 0) CancelIoEx(file.get(), nullptr);
    if (usb != nullptr) WinUsb_Free(usb);
    usb = nullptr;
    file.reset();
    // Cancelled writes still complete into their OVERLAPPEDs: taken too
    // before the OVERLAPPEDs go.
    DWORD ignored = 0;
    AwaitWrites(std::chrono::steady_clock::now() + std::chrono::seconds(5), &ignored);
}

OtherProgram::~OtherProgram() {
    Close();
    if (outstanding != 0) {
        // Freeing them now would let the device write into freed memory.
        std::fprintf(stderr, "the other program's %zu writes did not end after its close\n",
                     outstanding);
        std::abort();
    }
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
    other.Finish(problems);
}

std::map<int, std::string> EmulatedWorld::Received() const {
    std::map<int, std::string> received;
    for (const auto& device : devices) {
        const std::vector<unsigned char> bytes = device.second->Received();
        received[device.first] = std::string(bytes.begin(), bytes.end());
    }
    return received;
}
