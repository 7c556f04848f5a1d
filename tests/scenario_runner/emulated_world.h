// What surrounds the program in a scenario, made on the emulation in this
// process: the job files (some held open without sharing), the cutters on
// the virtual bus, the faults, and the other program sending to the only
// cutter. Shared by the runners that play the table in-process.
#pragma once

#include <chrono>
#include <deque>
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
// them, before the program starts. Its OVERLAPPEDs are the device's until
// their completions have come off its port, as on Windows: so it waits for
// them before it lets them go, never for the device's queue to look empty.
class OtherProgram {
  public:
    OtherProgram() = default;
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;
    ~OtherProgram();

    void Start(const std::string& file, const std::wstring& devicePath,
               std::vector<std::string>* problems);
    // Waits until each write has ended, then closes the cutter; a write that
    // failed or did not end is a problem.
    void Finish(std::vector<std::string>* problems);

  private:
    // Takes completions off the port until none is outstanding or `deadline`;
    // the first failure's error goes to `failure`.
    void AwaitWrites(std::chrono::steady_clock::time_point deadline, DWORD* failure);
    void Close();

    std::string bytes;
    platform::UniqueHandle file;
    platform::UniqueHandle port;
    WINUSB_INTERFACE_HANDLE usb = nullptr;
    std::deque<OVERLAPPED> writes;  // stay where they are while pending
    std::size_t outstanding = 0;
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
