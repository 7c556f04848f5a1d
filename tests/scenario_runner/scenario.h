// A user-visible scenario, as written in tests/scenarios/*.scenario: the
// cutters plugged in, the job files, the faults, the command line, what the
// user does in order, and what must hold afterwards. Read by two runners:
// the in-process one over the emulation and the one that drives the shipped
// Windows programs under Wine. Plain C++: it builds for both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace scenario {

struct Cutter {
    int number = 0;  // as the scenario names it: "cutter 1"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string serial;       // the instance-specific segment of the instance ID
    int port = 0;             // USB port; the list shows cutters in port order
    unsigned slowMs = 0;      // time the cutter takes before it accepts each write
    bool absent = false;      // plugged in later, by a "plug cutter" step
    bool closeFails = false;  // closing the program's handle on it fails
    // Bound to a driver other than WinUSB.
    bool otherDriver = false;
};

struct Job {
    std::string name;  // file name in the runner's job folder
    std::uint32_t size = 0;
    bool locked = false;  // held open by another process without sharing
    // Bytes its producer appends at a "grow" step, while the program sends it.
    std::uint32_t grows = 0;
};

struct Fault {
    std::string function;   // a SetupAPI or WinUSB function
    unsigned long nth = 1;  // the first failing call, 1-based
    unsigned long error = 0;
    unsigned long times = 1;
};

// Where a step happens.
enum class Place {
    FileDialog,  // the next showing of the file-open dialog
    Progress,    // the progress dialog
    MessageBox,  // the next message box
};

struct Step {
    enum class Kind {
        Begin,         // a new place: "file dialog", "progress", "message box"
        Expect,        // what the user sees there must equal `text`
        ChooseOutput,  // `number`: 1-based entry of the "&Output:" list
        TypeFile,      // `text`: the file name typed, expanded
        Press,         // `text`: "Send", "Cancel", "Refresh", "Escape" (a key) or "OK"
        SendCommand,   // `number`: a WM_COMMAND with this ID posted to the dialog
        WaitFor,       // `number`: the progress bar at or past this percentage
        Plug,          // `number`: the cutter plugged in now
        Unplug,        // `number`: the cutter pulled out now
        // `number`: the person drags the progress dialog, a modal move loop,
        // until the bar shows this percentage, then lets go
        MoveUntil,
        Grow,  // `text`: the job whose producer appends its `grows` bytes now
    };
    Kind kind = Kind::Begin;
    Place place = Place::FileDialog;
    // Expect: what is looked at ("list", "selected", "file name", "title",
    // "send button", "text"; "" for a message box's text).
    std::string what;
    std::string text;      // expected value, or the argument
    std::string wineText;  // expected value under Wine when it rightly differs; else empty
    bool hasWineText = false;
    int number = 0;
    int line = 0;  // in the scenario file, for messages

    // The value expected on this platform.
    const std::string& Expected(bool underWine) const {
        return underWine && hasWineText ? wineText : text;
    }
};

struct Received {
    enum class Kind { All, Part, Nothing };
    int cutter = 0;
    Kind kind = Kind::Nothing;
    std::string job;  // for All and Part
};

struct LogRecord {
    std::string level;  // "error" or "warning"
    std::string context;
    std::string message;
    // What Wine may write instead, when it rightly differs; any one of them.
    std::vector<std::string> wineMessages;

    // The messages that are right on this platform.
    std::vector<std::string> Messages(bool underWine) const {
        return underWine && !wineMessages.empty() ? wineMessages
                                                  : std::vector<std::string>{message};
    }
};

struct Scenario {
    std::string name;   // the file name without its extension
    std::string title;  // what it is about, in words
    std::vector<Cutter> cutters;
    std::vector<Job> jobs;
    std::vector<Fault> faults;
    // The command line as written: "{name}" stands for the path of the job
    // file `name` in the job folder, "{c*N}" for N copies of the character c.
    std::string commandLine;
    // Another copy of the program, started with this command line, expanded
    // alike, is sending to the only cutter when this one starts; it must end
    // with exit code 0.
    bool hasOtherProgram = false;
    std::string otherProgram;
    std::vector<Step> steps;
    int exitCode = 0;
    std::vector<Received> received;  // cutters not named must get nothing
    std::vector<LogRecord> log;      // every record, in order

    const Cutter* FindCutter(int number) const;
    const Job* FindJob(const std::string& name) const;
};

// Reads a scenario; on a mistake, returns false and says where in `error`.
bool Parse(const std::string& name, const std::string& text, Scenario* scenario,
           std::string* error);

// Reads the scenario file at `path`, named after the file without its
// extension; false, with the reason, when it cannot be read or parsed.
bool Load(const std::string& path, Scenario* scenario, std::string* error);

// Expands "{name}" and "{c*N}" in `text`; `jobFolder` ends with the
// platform's separator.
std::string Expand(const std::string& text, const std::string& jobFolder);

// The bytes of job `job` once it has grown: a pattern that shows a misplaced
// or repeated chunk. Its first `size` bytes are there before the program
// starts; the rest is what a "grow" step appends.
std::string JobBytes(const Job& job);

// C-style escapes as the scenario files write them: \r \n \t \" \\.
std::string Escape(const std::string& text);

// A list's entries as the scenario writes them: "\"a\" \"b\"".
std::string QuoteList(const std::vector<std::string>& entries);

}  // namespace scenario
