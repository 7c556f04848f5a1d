// A randomised soak over the emulation: many whole-program transfers, each
// with its own file, cutters, failure and user, and after each one the
// checks that must hold whatever happened. A run is chosen from its seed and
// number alone, so any run can be replayed by itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// What goes wrong in a run, besides what the user does.
enum class Fault {
    None,
    OpenFails,    // WinUsb_Initialize fails `openFailures` times
    WriteFails,   // write number `failingWrite` fails with `writeError`
    ShortWrites,  // every write moves at most `acceptAtMost` bytes
    Unplug,       // the chosen cutter is unplugged when the bar reaches `unplugAt`
    CloseFails,   // closing the chosen cutter's handle fails
};

struct Plan {
    std::uint64_t seed = 0;
    unsigned long run = 0;

    std::size_t fileSize = 0;
    int cutters = 1;         // plugged in, 1 to 3
    std::vector<int> ports;  // of each cutter, in the order plugged in; distinct, 1 to 9
    int chosen = 0;          // position in the output list, which is in port order

    Fault fault = Fault::None;
    unsigned long openFailures = 0;
    unsigned long failingWrite = 0;
    unsigned long writeError = 0;  // 0: the write succeeds with no bytes
    bool failsAtOnce = false;      // WinUsb_WritePipe fails, not the completion
    unsigned long acceptAtMost = 0;
    int unplugAt = -1;

    int cancelAt = -1;             // the user presses Cancel when the bar reaches it; -1 never
    long latencyMicroseconds = 0;  // per write; 0: an instant cutter
    bool succeedAtOnce = false;    // an instant cutter's writes return TRUE at once

    // "seed 42 run 317", how every report of this run begins.
    std::string Name() const;
    // Every choice, on one line.
    std::string Describe() const;
};

// The run `run` of the soak seeded with `seed`.
Plan MakePlan(std::uint64_t seed, unsigned long run);

// Plays the plan through wWinMain in `folder` (the job file goes there) and
// checks the outcome. Returns the failed checks, each naming the run; empty
// when all held. A run that outlives its deadline aborts the process, naming
// the run.
std::vector<std::string> Play(const Plan& plan, const std::string& folder);

// Call once before the first Play, with the folder Play will be given:
// points the log at a temporary folder and starts what every run shares
// (the log's writer, the I/O service), so no run is blamed for them.
void Prepare(const std::string& folder);

}  // namespace soak
