#include "tests/scenario_runner/emulated_world.h"

#include "platform/emu/control.h"
#include "tests/support/wide_text.h"

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
