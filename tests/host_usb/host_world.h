// A scenario's surroundings on the host bus: each cutter an emulated USB
// device (tests/host_usb/emulated_usb) with the scenario's IDs, serial and
// port, reached by the program through libusb as real cutters are.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/host_usb/emulated_usb.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_world.h"

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
    OtherProgram other;
};
