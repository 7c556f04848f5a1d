// What surrounds the program in a scenario, made on the emulation in this
// process: the job files (some held open without sharing), the cutters on
// the virtual bus, the faults, and the other program sending to the only
// cutter. Shared by the runners that play the table in-process.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/emu/buses/virtual/virtual_usb.h"
#include "platform/unique_handle.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_world.h"

// The other program of a scenario, played in this process: it has the
// cutter open and its file's writes queued, in chunks as the program sends
// them, before the program starts.
class OtherProgram {
  public:
    void Start(const std::string& file, const std::wstring& devicePath,
               std::vector<std::string>* problems);
    // Waits until the cutter has no write pending (`pending` says how many
    // it has), then closes it; a write that failed is a problem.
    void Finish(const std::function<int()>& pending, std::vector<std::string>* problems);

  private:
    std::string bytes;
    platform::UniqueHandle file;
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    std::deque<OVERLAPPED> writes;  // stay where they are while pending
};

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
