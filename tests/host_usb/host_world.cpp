#include "tests/host_usb/host_world.h"

#include <algorithm>

#include <chrono>
#include <thread>

#include "platform/virtual_cutter_names.h"

namespace {

// The interface class of a USB device's path.
constexpr wchar_t kInterfaceTail[] = L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

std::string Bytes(const emulated_usb::Device& device) {
    const std::vector<unsigned char> bytes = device.Received();
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

HostWorld::HostWorld(const scenario::Scenario& played, std::string folder,
                     std::vector<std::string>* seenProblems)
    : s(played), jobFolder(std::move(folder)), problems(seenProblems) {}

HostWorld::~HostWorld() {
    emulated_usb::UnplugAll();
}

// Closing a usbfs file gives the kernel's result to nobody: it cannot fail.
// A row in which the failed close shows nothing (it comes on the way out of
// a Cancel) is played all the same.
std::string HostWorld::CannotPlay() const {
    const bool boxes = std::any_of(s.steps.begin(), s.steps.end(), [](const scenario::Step& step) {
        return step.place == scenario::Place::MessageBox;
    });
    for (const scenario::Cutter& cutter : s.cutters) {
        if (cutter.closeFails && boxes)
            return "close-fails: closing a cutter through libusb cannot fail, so its message "
                   "box cannot come";
    }
    return "";
}

void HostWorld::SetUp() {
    MakeJobsAndFaults(s, jobFolder, &locks);
    for (const scenario::Cutter& cutter : s.cutters) {
        if (!cutter.absent) Plug(cutter.number);
    }
    if (!s.hasOtherProgram) return;
    const scenario::Cutter& only = s.cutters.front();
    other.Start(
        scenario::Expand(s.otherProgram, jobFolder),
        platform::UsbInterfacePath(
            platform::UsbInstanceId(only.vendorId, only.productId, only.serial), kInterfaceTail),
        problems);
}

// Another driver than the printer's holds interface 0 of an other-driver
// cutter, as a cutter not bound to WinUSB on Windows.
void HostWorld::Plug(int number) {
    const scenario::Cutter& cutter = *s.FindCutter(number);
    emulated_usb::DeviceConfig config;
    config.vendorId = cutter.vendorId;
    config.productId = cutter.productId;
    config.serial = cutter.serial;
    config.port = cutter.port;
    config.writeDelay = std::chrono::milliseconds(cutter.slowMs);
    if (cutter.otherDriver) config.driver = "usbhid";
    devices[number] = emulated_usb::Plug(config);
}

void HostWorld::Unplug(int number) {
    emulated_usb::Unplug(devices.at(number));
}

void HostWorld::FinishOtherProgram() {
    if (!s.hasOtherProgram) return;
    const auto& cutter = devices.begin()->second;
    other.Finish([&] { return cutter->PendingWrites(); }, problems);
}

std::map<int, std::string> HostWorld::Received() const {
    std::map<int, std::string> received;
    for (const auto& device : devices) received[device.first] = Bytes(*device.second);
    return received;
}

// No write is left in flight once the program has ended.
void HostWorld::CheckAfterRun() {
    for (const auto& device : devices) {
        const int pending = device.second->PendingWrites();
        if (pending != 0) {
            problems->push_back("cutter " + std::to_string(device.first) + ": " +
                                std::to_string(pending) + " writes still in flight after the run");
        }
    }
}
