// What surrounds the program in a scenario (the job files, the cutters and
// their faults, the other program), as the in-process player needs it. One
// world per USB bus: the virtual bus (emulated_world.h) and the host's
// devices through libusb (tests/host_usb/host_world.h).
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "tests/scenario_runner/scenario.h"

class ScenarioWorld {
  public:
    virtual ~ScenarioWorld() = default;

    // Why this world cannot play the scenario as written, or "".
    virtual std::string CannotPlay() const { return ""; }

    // Everything that is there before the program starts.
    virtual void SetUp() = 0;
    virtual void Plug(int number) = 0;
    virtual void Unplug(int number) = 0;
    // Waits for the other program's writes and closes its cutter.
    virtual void FinishOtherProgram() = 0;
    // Every byte each cutter received, by cutter number.
    virtual std::map<int, std::string> Received() const = 0;
    // What the cutters' own counts show once the program has ended, as
    // problems; a bus that counts nothing has nothing to say.
    virtual void CheckAfterRun() {}
};

// What every world makes alike: the job files, those held open without
// sharing (kept open in `locks`), and the SetupAPI and WinUSB faults armed.
void MakeJobsAndFaults(const scenario::Scenario& s, const std::string& jobFolder,
                       std::deque<platform::UniqueHandle>* locks);

// A "grow" step: the producer of `job`, a program not kept to the share mode
// the program opened the file with, appends the rest of its bytes now.
void GrowJob(const scenario::Job& job, const std::string& jobFolder);

// The other program of a scenario has sent its file within this.
constexpr std::chrono::seconds kOtherProgramDeadline(60);
