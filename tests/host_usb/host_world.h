// A scenario's surroundings on the host bus: each cutter an emulated USB
// device (tests/host_usb/emulated_usb) with the scenario's IDs, serial and
// port, reached by the program through libusb as real cutters are.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/host_usb/emulated_usb.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_world.h"

// The other program of a scenario on this bus: one that prints through the
// printer driver's node, as a spooler does, and holds it open until the
// cutter has taken its file.
class PrinterNodeProgram {
  public:
    ~PrinterNodeProgram();
    void Start(const std::string& file, std::shared_ptr<emulated_usb::Device> cutter,
               std::vector<std::string>* problems);
    void Finish(std::vector<std::string>* problems);

  private:
    void Write();

    std::string bytes;
    std::shared_ptr<emulated_usb::Device> device;
    int node = -1;
    std::thread writer;
    std::string failure;  // the writer's, read once it has ended
};

class HostWorld : public ScenarioWorld {
  public:
    HostWorld(const scenario::Scenario& played, std::string jobFolder,
              std::vector<std::string>* problems);
    ~HostWorld() override;
    HostWorld(const HostWorld&) = delete;
    HostWorld& operator=(const HostWorld&) = delete;

    std::string CannotPlay() const override;
    void SetUp() override;
    void Plug(int number) override;
    void Unplug(int number) override;
    void FinishOtherProgram() override;
    std::map<int, std::string> Received() const override;
    void CheckAfterRun() override;

  private:
    const scenario::Scenario& s;
    const std::string jobFolder;
    std::vector<std::string>* problems;
    std::map<int, std::shared_ptr<emulated_usb::Device>> devices;
    std::deque<platform::UniqueHandle> locks;
    PrinterNodeProgram other;
};
