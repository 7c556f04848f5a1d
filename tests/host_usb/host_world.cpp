#include "tests/host_usb/host_world.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/emu/faults.h"
#include "tests/support/temp_folder.h"

namespace {

std::string Bytes(const emulated_usb::Device& device) {
    const std::vector<unsigned char> bytes = device.Received();
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

PrinterNodeProgram::~PrinterNodeProgram() {
    if (writer.joinable()) writer.join();
    if (node >= 0) ::close(node);
}

void PrinterNodeProgram::Start(const std::string& file,
                               std::shared_ptr<emulated_usb::Device> cutter,
                               std::vector<std::string>* problems) {
    bytes = ReadWholeFile(file);
    device = std::move(cutter);
    node = ::open(device->PrinterNode().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (node < 0) {
        problems->push_back("the other program cannot open " + device->PrinterNode() + " (" +
                            std::strerror(errno) + ")");
        return;
    }
    writer = std::thread([this] { Write(); });
}

// The node takes the file as fast as the cutter does; a node that takes
// nothing for the whole deadline is the cutter's fault, said.
void PrinterNodeProgram::Write() {
    const auto deadline = std::chrono::steady_clock::now() + kOtherProgramDeadline;
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd writable{node, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&writable, 1, static_cast<int>(left.count())) == 0) {
            failure = "the printer node took " + std::to_string(done) + " of " +
                      std::to_string(bytes.size()) + " bytes within the deadline";
            return;
        }
        const ssize_t wrote = ::write(node, bytes.data() + done, bytes.size() - done);
        if (wrote > 0) done += static_cast<std::size_t>(wrote);
        if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
            failure = std::string("writing the printer node failed (") + std::strerror(errno) + ")";
            return;
        }
    }
}

// Closes the node once the cutter has every byte of the file.
void PrinterNodeProgram::Finish(std::vector<std::string>* problems) {
    if (writer.joinable()) writer.join();
    if (!failure.empty()) problems->push_back("the other program: " + failure);
    if (failure.empty() && node >= 0 && !device->WaitForBytes(bytes.size(), kOtherProgramDeadline))
        problems->push_back("the cutter did not take the other program's file within " +
                            std::to_string(kOtherProgramDeadline.count()) + " s");
    if (node >= 0) ::close(node);
    node = -1;
}

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
    other.Start(scenario::Expand(s.otherProgram, jobFolder), devices.at(s.cutters.front().number),
                problems);
}

// The printer driver holds interface 0 of a cutter, as Linux binds it;
// another driver that of an other-driver cutter, as a cutter not bound to
// WinUSB on Windows.
void HostWorld::Plug(int number) {
    const scenario::Cutter& cutter = *s.FindCutter(number);
    emulated_usb::DeviceConfig config;
    config.vendorId = cutter.vendorId;
    config.productId = cutter.productId;
    config.serial = cutter.serial;
    config.port = cutter.port;
    config.writeDelay = std::chrono::milliseconds(cutter.slowMs);
    config.driver = cutter.otherDriver ? "usbhid" : "usblp";
    devices[number] = emulated_usb::Plug(config);
}

void HostWorld::Unplug(int number) {
    emulated_usb::Unplug(devices.at(number));
}

void HostWorld::FinishOtherProgram() {
    if (s.hasOtherProgram) other.Finish(problems);
}

std::map<int, std::string> HostWorld::Received() const {
    std::map<int, std::string> received;
    for (const auto& device : devices) received[device.first] = Bytes(*device.second);
    return received;
}

// No write is left in flight once the program has ended, and each that
// ended early was cancelled (CancelIoEx) as on Windows: closing, which also
// discards what is in flight, is only the fallback.
void HostWorld::CheckAfterRun() {
    int discards = 0;
    for (const auto& device : devices) {
        const int pending = device.second->PendingWrites();
        if (pending != 0) {
            problems->push_back("cutter " + std::to_string(device.first) + ": " +
                                std::to_string(pending) + " writes still in flight after the run");
        }
        discards += device.second->Discards();
    }
    const unsigned long cancels = emu::CallCount("CancelIoEx");
    if (static_cast<unsigned long>(discards) > cancels) {
        problems->push_back(std::to_string(discards) + " writes discarded, but CancelIoEx called " +
                            std::to_string(cancels) + " times: the close ended them");
    }
}
