// Plays one scenario of tests/scenarios against the shipped bladepost.exe,
// as the in-process runner plays it against the emulation, and checks what
// the program did with the same comparison:
//
//   scenario_runner <scenario file> <bladepost.exe> <job folder>
//
// The cutters are the stand-in setupapi.dll and winusb.dll beside the
// program; the runner sets them up through the program's environment and
// plugs and pulls out cutters through their named events. It drives the
// real dialogs from outside, as dialog_probe does, and sees the progress
// dialog through progress_watch.dll hooked into the program's thread, so it
// must have the program's bitness. Prints one line per difference, then
// "PASS <name>" or "FAIL <name>"; exit code 0 only when the scenario passed.
// Every wait is bounded and says what it waited for when it gives up.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "resources/resource.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_check.h"
#include "tests/wine/dialog_windows.h"
#include "tests/wine/progress_watch.h"
#include "tests/wine/watched_progress.h"

namespace {

using namespace dialog_windows;
using Kind = scenario::Step::Kind;
using Clock = std::chrono::steady_clock;

// A window or the bar comes within this, or the step fails; Wine starts a
// program in a second or two.
constexpr auto kPatience = std::chrono::seconds(30);
// The program ends within this after the last step.
constexpr auto kEndPatience = std::chrono::seconds(60);
// After a step could not be played the program is given this long to end
// before it is ended.
constexpr auto kAbandonPatience = std::chrono::seconds(5);
constexpr auto kPoll = std::chrono::milliseconds(10);

// What the log holds before the program starts: a line of an earlier run,
// which only a run that logs may replace.
const char kEarlierLog[] = "the record of an earlier run\r\n";

std::string Seconds(Clock::duration duration) {
    return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(duration).count()) +
           " s";
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0) {
        bytes->append(buffer, got);
    }
    CloseHandle(file);
    return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        bytes.empty() ||
        (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size());
    CloseHandle(file);
    return ok;
}

// Creates `folder` and every folder above it that is missing.
void CreateFolders(const std::wstring& folder) {
    for (std::size_t at = folder.find(L'\\', 3); at != std::wstring::npos;
         at = folder.find(L'\\', at + 1)) {
        CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
}

std::wstring LogFolder() {
    WCHAR data[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, data);
    return std::wstring(data) + L"\\org.bladepost.SendToCutter\\log";
}

std::string Hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

struct BoxSearch {
    DWORD process;
    HWND found;
};

// A message box of the program: any dialog of its own that is neither the
// file-open nor the progress dialog.
BOOL CALLBACK FindBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != search->process || !IsWindowVisible(window) || ClassOf(window) != L"#32770" ||
        DescendantWithId(window, IDC_OUTPUT) != nullptr ||
        DescendantWithId(window, IDC_PROGRESS) != nullptr) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

class Runner {
  public:
    Runner(const scenario::Scenario& played, std::wstring program, std::string folder)
        : s(played), exe(std::move(program)), jobFolder(std::move(folder)) {}

    ~Runner() {
        for (HANDLE lock : locks) CloseHandle(lock);
        for (auto& entry : events) CloseHandle(entry.second);
        if (process.hProcess != nullptr) CloseHandle(process.hProcess);
        if (process.hThread != nullptr) CloseHandle(process.hThread);
        if (other.hProcess != nullptr) CloseHandle(other.hProcess);
        if (other.hThread != nullptr) CloseHandle(other.hThread);
    }
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    scenario::Observed Run() {
        watch.HoldAt(HoldPositions());
        if (Prepare() && Start()) {
            const bool played = Play();
            Finish(played);
            if (s.hasOtherProgram) FinishOther();
            Collect();
        }
        return observed;
    }

  private:
    void Problem(const std::string& what) { observed.problems.push_back(what); }
    void Problem(const scenario::Step& step, const std::string& what) {
        Problem("line " + std::to_string(step.line) + ": " + what);
    }

    std::wstring ReceiveFile(const scenario::Cutter& cutter) const {
        return Widen(jobFolder + "cutter-" + std::to_string(cutter.number) + ".bin");
    }

    bool Prepare() {
        CreateFolders(Widen(jobFolder.substr(0, jobFolder.size() - 1)));
        for (const scenario::Job& job : s.jobs) {
            const std::wstring path = Widen(jobFolder + job.name);
            if (!WriteWholeFile(path, scenario::JobBytes(job).substr(0, job.size))) {
                Problem("cannot write the job file " + jobFolder + job.name);
                return false;
            }
            if (!job.locked) continue;
            HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (lock == INVALID_HANDLE_VALUE) {
                Problem("cannot hold " + job.name + " open");
                return false;
            }
            locks.push_back(lock);
        }
        const std::wstring logFolder = LogFolder();
        CreateFolders(logFolder);
        logFile = logFolder + L"\\portgate.log";
        if (!WriteWholeFile(logFile, kEarlierLog)) {
            Problem("cannot write the log file " + Narrow(logFile));
            return false;
        }

        std::string devices, delays, absent, closeFails, otherDriver, faults;
        auto add = [](std::string* list, const char* separator, const std::string& item) {
            if (!list->empty()) *list += separator;
            *list += item;
        };
        for (const scenario::Cutter& cutter : s.cutters) {
            DeleteFileW(ReceiveFile(cutter).c_str());
            const std::string port = std::to_string(cutter.port);
            add(&devices, ";",
                Hex4(cutter.vendorId) + ":" + Hex4(cutter.productId) + ":" + cutter.serial + ":" +
                    port + ":" + Narrow(ReceiveFile(cutter)));
            if (cutter.slowMs != 0) add(&delays, ";", port + ":" + std::to_string(cutter.slowMs));
            if (cutter.absent) add(&absent, ";", port);
            if (cutter.closeFails) add(&closeFails, ";", port);
            if (cutter.otherDriver) add(&otherDriver, ";", port);
        }
        for (const scenario::Fault& fault : s.faults) {
            add(&faults, ",",
                fault.function + ":" + std::to_string(fault.nth) + ":" +
                    std::to_string(fault.error) + ":" + std::to_string(fault.times));
        }
        // The program inherits these; one left over from outside would change
        // the cutters it sees.
        const std::pair<const wchar_t*, std::string> variables[] = {
            {L"EMU_USB_DEVICES", devices},
            {L"EMU_USB_DELAYS", delays},
            {L"EMU_USB_ABSENT", absent},
            {L"EMU_USB_CLOSE_FAILS", closeFails},
            {L"EMU_USB_OTHER_DRIVER", otherDriver},
            {L"EMU_USB_BUS", ""},
            {L"EMU_FAULTS", faults},
        };
        for (const auto& variable : variables) {
            SetEnvironmentVariableW(
                variable.first, variable.second.empty() ? nullptr : Widen(variable.second).c_str());
        }
        return true;
    }

    // Starts the program held, creates its cutters' events, hooks it and
    // lets it run.
    bool Start() {
        std::wstring commandLine =
            L"\"" + exe + L"\" " + Widen(scenario::Expand(s.commandLine, jobFolder));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                            nullptr, nullptr, &startup, &process)) {
            Problem("cannot start " + Narrow(exe) + " (" + std::to_string(GetLastError()) + ")");
            return false;
        }
        if (s.hasOtherProgram && !StartOther()) {
            TerminateProcess(process.hProcess, 1);
            return false;
        }
        for (const scenario::Cutter& cutter : s.cutters) {
            for (const wchar_t* what : {L"plug", L"unplug"}) {
                const std::wstring name = L"Local\\bladepost-virtual-" +
                                          std::to_wstring(process.dwProcessId) + L"-" + what +
                                          L"-" + std::to_wstring(cutter.port);
                HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
                if (event == nullptr) {
                    Problem("cannot create the event " + Narrow(name));
                    TerminateProcess(process.hProcess, 1);
                    return false;
                }
                events[{cutter.number, std::wstring(what)}] = event;
            }
        }
        const std::string hooked = watch.HookProcess(process.dwProcessId);
        if (!hooked.empty()) {
            Problem(hooked);
            TerminateProcess(process.hProcess, 1);
            return false;
        }
        ResumeThread(process.hThread);
        return true;
    }

    bool Ended() const { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; }

    // Starts the other program on the held program's bus, so that both have
    // the same cutters, and waits until the only cutter has its first bytes.
    bool StartOther() {
        std::wstring commandLine =
            L"\"" + exe + L"\" " + Widen(scenario::Expand(s.otherProgram, jobFolder));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        SetEnvironmentVariableW(L"EMU_USB_BUS", std::to_wstring(process.dwProcessId).c_str());
        const BOOL started = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                                            0, nullptr, nullptr, &startup, &other);
        SetEnvironmentVariableW(L"EMU_USB_BUS", nullptr);
        if (!started) {
            Problem("cannot start the other program (" + std::to_string(GetLastError()) + ")");
            return false;
        }
        const std::wstring received = ReceiveFile(s.cutters.front());
        const auto deadline = Clock::now() + kPatience;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        while (!GetFileAttributesExW(received.c_str(), GetFileExInfoStandard, &data) ||
               data.nFileSizeLow == 0) {
            if (WaitForSingleObject(other.hProcess, 0) == WAIT_OBJECT_0 ||
                Clock::now() >= deadline) {
                Problem("the other program sent nothing within " + Seconds(kPatience));
                TerminateProcess(other.hProcess, 255);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    void FinishOther() {
        DWORD code = 255;
        if (WaitForSingleObject(other.hProcess, static_cast<DWORD>(kEndPatience.count() * 1000)) !=
            WAIT_OBJECT_0) {
            Problem("the other program did not end within " + Seconds(kEndPatience));
            TerminateProcess(other.hProcess, 255);
            WaitForSingleObject(other.hProcess, 5000);
        } else if (GetExitCodeProcess(other.hProcess, &code) && code != 0) {
            Problem("the other program ended with exit code " + std::to_string(code) +
                    ", expected 0");
        }
    }

    HWND MessageBoxShown() const {
        BoxSearch search{process.dwProcessId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Takes note of message box `box` once: its text and caption.
    void Record(HWND box) {
        if (!recordedBoxes.insert(box).second) return;
        std::wstring text;
        for (const std::wstring& label : Labels(box)) text += label;
        scenario::MessageBoxSeen seen{Narrow(text), Narrow(Text(box))};
        if (!IsWindow(box)) {
            // Gone while it was being read: what the hook saw is whole.
            for (const ProgressWatch::Box& hooked : watch.Boxes()) {
                if (hooked.window == box) seen = {hooked.text, hooked.caption};
            }
            Problem("the message box \"" + scenario::Escape(seen.text) +
                    "\" closed by itself, before OK was pressed");
        }
        observed.boxes.push_back(seen);
    }

    // The boxes of the program's thread that came and went between two
    // looks: nobody could have read them.
    void RecordVanishedBoxes() {
        for (const ProgressWatch::Box& hooked : watch.Boxes()) {
            if (!recordedBoxes.insert(hooked.window).second) continue;
            Problem("the message box \"" + scenario::Escape(hooked.text) +
                    "\" closed by itself, before OK was pressed");
            observed.boxes.push_back({hooked.text, hooked.caption});
        }
    }

    void PressOk(HWND box) {
        HWND ok = GetDlgItem(box, IDOK);
        if (ok != nullptr) {
            PostMessageW(ok, BM_CLICK, 0, 0);
        } else {
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }

    // Polls `find` until it gives a window; on giving up, notes why against
    // `step` and returns null. A message box that comes instead is noted and
    // closed: nothing else would come while it is open.
    template <typename Find>
    HWND Await(const scenario::Step& step, const std::string& what, Find find,
               bool boxesAllowed = false) {
        const auto deadline = Clock::now() + kPatience;
        for (;;) {
            if (HWND found = find()) return found;
            if (!boxesAllowed) {
                if (HWND box = MessageBoxShown()) {
                    Record(box);
                    PressOk(box);
                    Problem(step, "a message box came while waiting for " + what);
                    return nullptr;
                }
            }
            if (Ended()) {
                Problem(step, "the program ended while waiting for " + what);
                return nullptr;
            }
            if (Clock::now() >= deadline) {
                Problem(step, "no " + what + " within " + Seconds(kPatience));
                return nullptr;
            }
            std::this_thread::sleep_for(kPoll);
        }
    }

    bool WaitGone(const scenario::Step& step, HWND gone, const std::string& what) {
        const auto deadline = Clock::now() + kPatience;
        while (IsWindow(gone) && IsWindowVisible(gone)) {
            if (Clock::now() >= deadline) {
                Problem(step, what + " still open after " + Seconds(kPatience));
                return false;
            }
            std::this_thread::sleep_for(kPoll);
        }
        return true;
    }

    bool Begin(const scenario::Step& step) {
        place = step.place;
        current = nullptr;
        if (place == scenario::Place::FileDialog) {
            const HWND previous = lastFileDialog;
            current =
                Await(step, "the file-open dialog with its cutter list filled", [&]() -> HWND {
                    HWND dialog = FindFileDialog(process.dwProcessId);
                    if (dialog == nullptr || dialog == previous) return nullptr;
                    HWND list = DescendantWithId(dialog, IDC_OUTPUT);
                    return Ask(list, CB_GETCOUNT, 0, 0) > 0 ? dialog : nullptr;
                });
            lastFileDialog = current;
        } else if (place == scenario::Place::Progress) {
            // The hook sees the dialog as soon as it is made, before it is
            // shown; a fast transfer may even be over before a look from
            // outside would find it.
            const bool found = Await(step, "the progress dialog", [&]() -> HWND {
                                   if (watch.Shown()) return GetDesktopWindow();
                                   return FindProgressDialog(process.dwProcessId);
                               }) != nullptr;
            current = watch.Shown() ? watch.Dialog() : FindProgressDialog(process.dwProcessId);
            return found;
        } else {
            current = Await(
                step, "a message box", [&] { return MessageBoxShown(); }, true);
            if (current != nullptr) Record(current);
        }
        return current != nullptr;
    }

    // What the user sees of `what` now.
    std::string Look(const std::string& what) {
        if (place == scenario::Place::MessageBox) return observed.boxes.back().text;
        if (place == scenario::Place::Progress) {
            // The hook's record is the latest the dialog showed, even when it
            // is not on the screen yet or any more.
            if (watch.Shown()) return what == "title" ? watch.Title() : watch.Text();
            if (what == "title") return Narrow(Text(current));
            const std::vector<std::wstring> labels = Labels(current);
            return labels.empty() ? "" : Narrow(labels.front());
        }
        if (what == "title") return Narrow(Text(current));
        if (what == "send button") return Narrow(Text(GetDlgItem(current, IDOK)));
        if (what == "file name") return Narrow(Text(FileNameField(current)));
        HWND list = DescendantWithId(current, IDC_OUTPUT);
        const std::vector<std::wstring> entries = ComboEntries(list);
        if (what == "selected") {
            const LRESULT selected = Ask(list, CB_GETCURSEL, 0, 0);
            return selected >= 0 && static_cast<std::size_t>(selected) < entries.size()
                       ? Narrow(entries[static_cast<std::size_t>(selected)])
                       : "";
        }
        std::vector<std::string> narrow;
        for (const std::wstring& entry : entries) narrow.push_back(Narrow(entry));
        return scenario::QuoteList(narrow);
    }

    bool SetEventOf(const scenario::Step& step, const wchar_t* what) {
        const auto event = events.find({step.number, what});
        if (event == events.end()) {
            Problem(step, "no cutter " + std::to_string(step.number));
            return false;
        }
        SetEvent(event->second);
        return true;
    }

    // Picks Move from the progress dialog's system menu, which puts the
    // program's thread in the system's modal move loop, and lets go (Enter)
    // once that loop has shown the bar at the step's percentage.
    bool MoveUntil(const scenario::Step& step) {
        if (current == nullptr || !IsWindow(current)) {
            Problem(step, "the progress dialog was gone before it could be moved");
            return false;
        }
        PostMessageW(current, WM_SYSCOMMAND, SC_MOVE, 0);
        const bool reached = WaitForBar(step);
        PostMessageW(current, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageW(current, WM_KEYUP, VK_RETURN, 0);
        return reached;
    }

    // Where the steps act at a position: progress_watch.dll holds the
    // program's thread there, in the call that set the bar, until they have
    // (as the GTK runner holds its desktop), so a fast cutter cannot finish
    // first and a busy machine cannot make the runner late.
    std::vector<long> HoldPositions() const {
        std::vector<long> positions;
        for (const scenario::Step& step : s.steps) {
            if (step.kind == Kind::WaitFor || step.kind == Kind::MoveUntil) {
                positions.push_back(step.number);
            }
        }
        return positions;
    }

    // Waits until the program is held at the step's position.
    bool WaitForBar(const scenario::Step& step) {
        const long wanted = step.number;
        const long hold = ++holdsWaited;  // this step's, counted from 1
        const auto deadline = Clock::now() + kPatience;
        for (;;) {
            // Gone first, then the hold: the dialog cannot go while held.
            const bool gone = current == nullptr || !IsWindow(current) || Ended();
            if (watch.Held() >= hold) return true;
            const long position = watch.Highest();
            if (gone) {
                Problem(step, "the progress dialog closed with the bar at " +
                                  std::to_string(position) + "%, before " + std::to_string(wanted) +
                                  "%");
                return false;
            }
            if (Clock::now() >= deadline) {
                Problem(step, "the bar at " + std::to_string(position) + "%, not " +
                                  std::to_string(wanted) + "%, after " + Seconds(kPatience));
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // The job's producer runs outside Wine (scripts/wine-scenarios). Wine
    // keeps a Windows program to the share mode the program opened the file
    // with, as Windows does, but not a Unix one, as a file server does not
    // keep its other clients to it. The bytes go beside the job, whole before
    // they are named; the producer appends them and removes their file.
    bool Grow(const scenario::Step& step) {
        const scenario::Job& job = *s.FindJob(step.text);
        const std::wstring growth = Widen(jobFolder + job.name + ".growth");
        const std::wstring writing = growth + L".part";
        if (!WriteWholeFile(writing, scenario::JobBytes(job).substr(job.size)) ||
            !MoveFileExW(writing.c_str(), growth.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            Problem(step, "cannot hand what " + job.name + " grows by to its producer");
            return false;
        }
        const auto deadline = Clock::now() + kPatience;
        while (GetFileAttributesW(growth.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (Clock::now() >= deadline) {
                Problem(step, "its producer (scripts/wine-scenarios) had not grown " + job.name +
                                  " within " + Seconds(kPatience));
                return false;
            }
            // Closely, as for the bar: the transfer goes on meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    bool Press(const scenario::Step& step) {
        if (place == scenario::Place::MessageBox) {
            PressOk(current);
            return WaitGone(step, current, "the message box");
        }
        if (current == nullptr || !IsWindow(current)) {
            Problem(step, "the window was gone before " + step.text + " could be pressed");
            return false;
        }
        if (step.text == "Refresh") {
            HWND list = DescendantWithId(current, IDC_OUTPUT);
            HWND refresh = GetDlgItem(GetParent(list), IDC_REFRESH);
            if (refresh == nullptr) {
                Problem(step, "the file dialog has no Refresh button");
                return false;
            }
            // Answered once the program has listed the cutters anew.
            Ask(refresh, BM_CLICK, 0, 0);
            return true;
        }
        if (step.text == "Escape") return PressEscape(step);
        const int id = step.text == "Send" ? IDOK : IDCANCEL;
        HWND button = GetDlgItem(current, id);
        if (button == nullptr) {
            Problem(step, "no " + step.text + " button");
            return false;
        }
        // Posted: the program may stay in its handler for the whole transfer.
        PostMessageW(button, BM_CLICK, 0, 0);
        return true;
    }

    // A real key press: to the control that has the focus, through the
    // program's own message loop and dialog manager.
    bool PressEscape(const scenario::Step& step) {
        GUITHREADINFO input{};
        input.cbSize = sizeof input;
        const auto deadline = Clock::now() + kPatience;
        while (!GetGUIThreadInfo(process.dwThreadId, &input) || input.hwndFocus == nullptr) {
            if (Ended() || Clock::now() >= deadline) {
                Problem(step, "no control of the program had the focus within " +
                                  Seconds(kPatience) + (Ended() ? " (it ended)" : ""));
                return false;
            }
            std::this_thread::sleep_for(kPoll);
        }
        // Repeat count 1 and the scan code; a release also has bits 30 and 31.
        const UINT key = (MapVirtualKeyW(VK_ESCAPE, MAPVK_VK_TO_VSC) << 16) | 1u;
        PostMessageW(input.hwndFocus, WM_KEYDOWN, VK_ESCAPE, static_cast<LPARAM>(key));
        PostMessageW(input.hwndFocus, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(key | 0xC0000000u));
        return true;
    }

    bool Act(std::size_t index) {
        const scenario::Step& step = s.steps[index];
        // The program goes on from where it was held once a new place or
        // position comes.
        if (step.kind == Kind::Begin || step.kind == Kind::WaitFor ||
            step.kind == Kind::MoveUntil) {
            watch.Release();
        }
        switch (step.kind) {
            case Kind::Begin:
                return Begin(step);
            case Kind::Expect:
                observed.seen[index] = Look(step.what);
                return true;
            case Kind::ChooseOutput:
                ChooseEntry(DescendantWithId(current, IDC_OUTPUT), step.number - 1);
                return true;
            case Kind::TypeFile: {
                const std::string name =
                    step.text.find('{') == std::string::npos ? "{" + step.text + "}" : step.text;
                HWND field = FileNameField(current);
                if (field == nullptr) {
                    Problem(step, "the file dialog has no file-name field");
                    return false;
                }
                const std::wstring path = Widen(scenario::Expand(name, jobFolder));
                Ask(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
                return true;
            }
            case Kind::Press:
                return Press(step);
            case Kind::WaitFor:
                return WaitForBar(step);
            case Kind::MoveUntil:
                return MoveUntil(step);
            case Kind::SendCommand:
                if (current == nullptr || !IsWindow(current)) {
                    Problem(step, "the dialog was gone before the command could be sent");
                    return false;
                }
                PostMessageW(current, WM_COMMAND, static_cast<WPARAM>(step.number), 0);
                return true;
            case Kind::Plug:
                return SetEventOf(step, L"plug");
            case Kind::Unplug:
                return SetEventOf(step, L"unplug");
            case Kind::Grow:
                return Grow(step);
        }
        return false;
    }

    bool Play() {
        bool played = true;
        for (std::size_t i = 0; i < s.steps.size() && played; ++i) played = Act(i);
        watch.Release();
        return played;
    }

    // Waits for the program to end, closing with OK every message box that
    // comes and noting those the steps did not look at.
    void Finish(bool played) {
        const auto patience = played ? kEndPatience : kAbandonPatience;
        const auto deadline = Clock::now() + patience;
        while (!Ended()) {
            if (HWND box = MessageBoxShown()) {
                Record(box);
                PressOk(box);
                WaitForSingleObject(process.hProcess, 200);
                continue;
            }
            if (Clock::now() >= deadline) {
                if (played) {
                    Problem("the program did not end within " + Seconds(patience) +
                            " after the last step");
                }
                TerminateProcess(process.hProcess, 255);
                WaitForSingleObject(process.hProcess, 5000);
                break;
            }
            WaitForSingleObject(process.hProcess, 10);
        }
        RecordVanishedBoxes();
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) observed.exitCode = static_cast<int>(code);
    }

    void Collect() {
        for (HANDLE lock : locks) CloseHandle(lock);
        locks.clear();
        for (const scenario::Cutter& cutter : s.cutters) {
            std::string bytes;
            ReadWholeFile(ReceiveFile(cutter), &bytes);  // none: it got nothing
            observed.received[cutter.number] = bytes;
        }
        std::string text;
        if (!ReadWholeFile(logFile, &text)) {
            Problem("the log file is gone");
        } else if (s.log.empty() && text != kEarlierLog) {
            Problem("a run without records did not leave the earlier log as it was");
        } else if (!s.log.empty() && text.find(kEarlierLog) != std::string::npos) {
            Problem("the log still holds the earlier run's line");
        }
        observed.logText = text == kEarlierLog ? "" : text;
    }

    const scenario::Scenario& s;
    const std::wstring exe;
    const std::string jobFolder;  // ends with a backslash
    std::wstring logFile;
    PROCESS_INFORMATION process{};
    PROCESS_INFORMATION other{};  // the other program, if the scenario has one
    std::vector<HANDLE> locks;    // job files held without sharing
    std::map<std::pair<int, std::wstring>, HANDLE> events;  // by cutter and "plug"/"unplug"
    ProgressWatch watch;
    long holdsWaited = 0;  // the positions waited for so far
    scenario::Place place = scenario::Place::FileDialog;
    HWND current = nullptr;  // the window of the current place
    HWND lastFileDialog = nullptr;
    std::set<HWND> recordedBoxes;
    scenario::Observed observed;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::printf("usage: scenario_runner <scenario file> <bladepost.exe> <job folder>\n");
        return 2;
    }
    scenario::Scenario played;
    std::string error;
    if (!scenario::Load(Narrow(argv[1]), &played, &error)) {
        std::printf("%s\nFAIL %s\n", error.c_str(), Narrow(argv[1]).c_str());
        return 1;
    }
    const std::string& name = played.name;
    std::string jobFolder = Narrow(argv[3]);
    if (jobFolder.empty() || jobFolder.back() != '\\') jobFolder += '\\';

    const scenario::Observed observed = Runner(played, argv[2], jobFolder).Run();
    const std::vector<std::string> failures =
        scenario::Check(played, observed, jobFolder, /*underWine=*/true);
    for (const std::string& failure : failures) std::printf("%s\n", failure.c_str());
    std::printf("%s %s\n", failures.empty() ? "PASS" : "FAIL", name.c_str());
    std::fflush(stdout);
    return failures.empty() ? 0 : 1;
}
