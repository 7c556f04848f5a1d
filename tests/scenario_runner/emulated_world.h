// What surrounds the program in a scenario, made on the emulation in this
// process: the job files (some held open without sharing), the cutters on
// the virtual bus, the faults, and the other program sending to the only
// cutter. Shared by the runners that play the table in-process.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/emu/buses/virtual/virtual_usb.h"
#include "platform/unique_handle.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_world.h"

class EmulatedWorld : public ScenarioWorld {
  public:
    // `jobFolder` ends with '/'; what cannot be set up goes to `problems`.
    EmulatedWorld(const scenario::Scenario& played, std::string jobFolder,
                  std::vector<std::string>* problems);
    EmulatedWorld(const EmulatedWorld&) = delete;
    EmulatedWorld& operator=(const EmulatedWorld&) = delete;

    void SetUp() override;
    void Plug(int number) override;
    void Unplug(int number) override;
    void FinishOtherProgram() override;
    std::map<int, std::string> Received() const override;

  private:
    void StartOtherProgram();

    const scenario::Scenario& s;
    const std::string jobFolder;
    std::vector<std::string>* problems;
    std::map<int, std::shared_ptr<emu::VirtualDevice>> devices;
    std::deque<platform::UniqueHandle> locks;  // held open without sharing
    OtherProgram other;
};
