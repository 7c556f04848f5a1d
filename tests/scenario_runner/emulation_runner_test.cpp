// Plays every scenario of tests/scenarios in-process: wWinMain against the
// scripted desktop and virtual cutters, the user's actions scripted ahead.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/front_end_state.h"
#include "platform/emu/control.h"
#include "platform/emu/desktop.h"
#include "platform/emu/virtual_usb.h"
#include "platform/unique_handle.h"
#include "resources/resource.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_check.h"
#include "tests/support/log_watch.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"
#include "usb/usb_listener.h"

namespace {

// A whole run of the program may take this long before the test gives up
// on it and says so; no scenario comes near it.
constexpr std::chrono::seconds kRunDeadline(60);

std::vector<std::string> ScenarioNames() {
    std::vector<std::string> names;
    if (DIR* folder = opendir(SCENARIO_FOLDER)) {
        while (const dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            const std::string suffix = ".scenario";
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                names.push_back(name.substr(0, name.size() - suffix.size()));
            }
        }
        closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
    return narrow;
}

std::string Selected(const emu::ControlView& list) {
    if (list.selection < 0 || static_cast<std::size_t>(list.selection) >= list.items.size()) {
        return "";
    }
    return Narrow(list.items[static_cast<std::size_t>(list.selection)]);
}

// What the user sees of `what` in `view`.
std::string Look(const emu::DialogView& view, const std::string& what) {
    if (what == "title") return Narrow(view.title);
    if (what == "send button") return Narrow(view.Control(IDOK)->text);
    if (what == "file name") return Narrow(view.Control(cmb13)->text);
    if (what == "list" || what == "selected") {
        const emu::ControlView& list = *view.Control(IDC_OUTPUT);
        if (what == "selected") return Selected(list);
        std::vector<std::string> entries;
        for (const std::wstring& item : list.items) entries.push_back(Narrow(item));
        return scenario::QuoteList(entries);
    }
    for (const emu::ControlView& control : view.controls) {  // "text": the dialog's sentence
        if (control.className == L"STATIC" && !control.text.empty()) return Narrow(control.text);
    }
    return "";
}

class Player {
  public:
    Player(const scenario::Scenario& played, const std::string& folder)
        : s(played), jobFolder(folder) {}

    scenario::Observed Play() {
        PrepareJobs();
        for (const scenario::Cutter& cutter : s.cutters) {
            if (!cutter.absent) Plug(cutter.number);
        }
        for (const scenario::Fault& fault : s.faults) {
            emu::FailCall(fault.function, fault.nth, static_cast<DWORD>(fault.error), fault.times);
        }
        Script();
        if (s.hasOtherProgram) StartOther();
        observed.exitCode = RunProgram(Wide(scenario::Expand(s.commandLine, jobFolder)),
                                       "scenario " + s.name, kRunDeadline);
        if (mover.joinable()) mover.join();
        if (s.hasOtherProgram) FinishOther();
        Collect();
        return observed;
    }

  private:
    void PrepareJobs() {
        for (const scenario::Job& job : s.jobs) {
            WriteWholeFile(jobFolder + job.name, scenario::JobBytes(job));
            if (!job.locked) continue;
            const std::wstring path = Wide(jobFolder + job.name);
            locks.emplace_back(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        }
    }

    void Plug(int number) {
        const scenario::Cutter& cutter = *s.FindCutter(number);
        emu::VirtualDeviceConfig config;
        config.vendorId = cutter.vendorId;
        config.productId = cutter.productId;
        config.serial = cutter.serial;
        config.winUsb = !cutter.otherDriver;
        config.locationPaths = {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(" +
                                std::to_string(cutter.port) + ")"};
        auto device = emu::PlugIn(config);
        if (cutter.slowMs != 0) {
            device->SetTiming({std::chrono::milliseconds(cutter.slowMs), 0, false});
        }
        if (cutter.closeFails) device->FailClose(ERROR_INVALID_HANDLE);
        devices[number] = device;
    }

    void Unplug(int number) { emu::Unplug(devices.at(number)); }

    // Picks Move from the progress dialog's system menu: its thread enters
    // the move loop. The person lets go (Enter) once the bar, updated by
    // that loop, shows `percent`: from another thread, as the loop is modal.
    void StartMove(int percent) {
        HWND dialog = nullptr;
        for (const emu::DialogView& view : emu::ShownDialogs()) {
            if (view.templateId == IDD_PROGRESS) dialog = view.window;
        }
        PostMessageW(dialog, WM_SYSCOMMAND, SC_MOVE, 0);
        mover = std::thread([this, dialog, percent] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!BarReached(percent)) {
                if (!IsWindow(dialog) || std::chrono::steady_clock::now() >= deadline) {
                    std::lock_guard<std::mutex> lock(mutex);
                    observed.problems.push_back("the bar never reached " + std::to_string(percent) +
                                                "% while the dialog was moved");
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 0);
            PostMessageW(dialog, WM_KEYUP, VK_RETURN, 0);
        });
    }

    static bool BarReached(int percent) {
        const std::vector<int> positions = emu::ProgressPositions();
        return std::any_of(positions.begin(), positions.end(),
                           [percent](int position) { return position >= percent; });
    }

    // The other program, played by the runner: it has the only cutter open
    // and its file's writes queued before the program starts, in chunks as
    // the program sends them.
    void StartOther() {
        std::ifstream file(scenario::Expand(s.otherProgram, jobFolder),
                           std::ios::binary | std::ios::ate);
        other.bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)));
        file.seekg(0);
        file.read(reinterpret_cast<char*>(other.bytes.data()),
                  static_cast<std::streamsize>(other.bytes.size()));
        const std::wstring path = devices.begin()->second->DevicePath();
        other.file.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr));
        if (!other.file.valid() || !WinUsb_Initialize(other.file.get(), &other.usb)) {
            observed.problems.push_back("the other program cannot open the cutter");
            return;
        }
        other.writes.resize((other.bytes.size() + 1023) / 1024);
        for (std::size_t i = 0; i < other.writes.size(); ++i) {
            const ULONG size =
                static_cast<ULONG>(std::min<std::size_t>(1024, other.bytes.size() - i * 1024));
            WinUsb_WritePipe(other.usb, 0x02, &other.bytes[i * 1024], size, nullptr,
                             &other.writes[i]);
        }
    }

    // Waits for the other program's writes, then closes its cutter.
    void FinishOther() {
        const auto& cutter = devices.begin()->second;
        const auto deadline = std::chrono::steady_clock::now() + kRunDeadline;
        while (cutter->PendingWrites() != 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        for (const OVERLAPPED& write : other.writes) {
            if (write.Internal != 0) {
                observed.problems.push_back("the other program's write failed (" +
                                            std::to_string(write.Internal) + ")");
                break;
            }
        }
        if (other.usb != nullptr) WinUsb_Free(other.usb);
        other.file.reset();
    }

    // Records what the file-open dialog shows now, for Expect step `index`.
    emu::UserAction LookAt(std::size_t index) {
        return emu::Call([this, index] {
            const std::string seen = Look(emu::ViewOf(FileDialogWindow), s.steps[index].what);
            std::lock_guard<std::mutex> lock(mutex);
            observed.seen[index] = seen;
        });
    }

    emu::UserAction Action(const scenario::Step& step) {
        using Kind = scenario::Step::Kind;
        switch (step.kind) {
            case Kind::ChooseOutput:
                return emu::PickOutput(step.number - 1);
            case Kind::TypeFile: {
                const std::string name =
                    step.text.find('{') == std::string::npos ? "{" + step.text + "}" : step.text;
                return emu::TypeFileName(Wide(scenario::Expand(name, jobFolder)));
            }
            case Kind::Press:
                if (step.text == "Send") return emu::PressSend();
                if (step.text == "Refresh") return emu::PressRefresh();
                if (step.text == "Escape") return emu::PressEscape();
                return emu::PressCancel();
            case Kind::SendCommand:
                return emu::PostCommand(step.number);
            case Kind::Plug: {
                const int number = step.number;
                return emu::Call([this, number] { Plug(number); });
            }
            case Kind::Unplug: {
                const int number = step.number;
                return emu::Call([this, number] { Unplug(number); });
            }
            case Kind::MoveUntil: {
                const int percent = step.number;
                return emu::Call([this, percent] { StartMove(percent); });
            }
            default:
                return emu::Call([] {});
        }
    }

    // Turns the steps into the scripted desktop's scripts, one per place.
    void Script() {
        using Kind = scenario::Step::Kind;
        std::vector<emu::UserAction> actions;
        int waitFor = -1;
        scenario::Place place = scenario::Place::FileDialog;
        auto flush = [&] {
            if (place == scenario::Place::FileDialog) {
                emu::ScriptFileDialog(actions);
            } else if (place == scenario::Place::Progress && !actions.empty()) {
                if (waitFor < 0) {
                    emu::ScriptDialog(IDD_PROGRESS, actions);
                } else {
                    emu::ScriptProgress(waitFor, actions);
                }
            }
            actions.clear();
        };
        bool open = false;
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            const scenario::Step& step = s.steps[i];
            if (step.kind == Kind::Begin) {
                if (open) flush();
                open = true;
                place = step.place;
                waitFor = -1;
                if (place == scenario::Place::MessageBox) emu::ScriptMessageBox(IDOK);
            } else if (step.kind == Kind::WaitFor) {
                flush();
                waitFor = step.number;
            } else if (step.kind == Kind::Expect) {
                if (place == scenario::Place::FileDialog) actions.push_back(LookAt(i));
            } else if (place != scenario::Place::MessageBox) {
                actions.push_back(Action(step));
            }
        }
        if (open) flush();
    }

    // What the steps expected of the progress dialog and the message boxes
    // is read from the desktop's records after the run.
    void Collect() {
        std::vector<emu::MessageBoxRecord> boxes;
        for (const emu::MessageBoxRecord& box : emu::MessageBoxes()) {
            if (box.endedByQuit) {
                observed.problems.push_back("a message box vanished before it could be read: \"" +
                                            box.text + "\"");
                continue;
            }
            boxes.push_back(box);
            observed.boxes.push_back({box.text, box.caption});
        }
        const std::vector<emu::DialogView> shown = emu::ShownDialogs();
        std::size_t box = 0;
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            const scenario::Step& step = s.steps[i];
            if (step.kind == scenario::Step::Kind::Begin &&
                step.place == scenario::Place::MessageBox) {
                ++box;
            }
            if (step.kind != scenario::Step::Kind::Expect) continue;
            if (step.place == scenario::Place::MessageBox && box - 1 < boxes.size()) {
                observed.seen[i] = boxes[box - 1].text;
            }
            if (step.place == scenario::Place::Progress) {
                for (const emu::DialogView& view : shown) {
                    if (view.templateId == IDD_PROGRESS) observed.seen[i] = Look(view, step.what);
                }
            }
        }
        for (const auto& device : devices) {
            const std::vector<unsigned char> bytes = device.second->Received();
            observed.received[device.first] = std::string(bytes.begin(), bytes.end());
        }
        for (const std::string& what : emu::Unscripted()) observed.problems.push_back(what);
    }

    const scenario::Scenario& s;
    const std::string jobFolder;
    std::map<int, std::shared_ptr<emu::VirtualDevice>> devices;
    std::deque<platform::UniqueHandle> locks;  // held open without sharing
    struct OtherProgram {
        std::vector<unsigned char> bytes;
        platform::UniqueHandle file;
        WINUSB_INTERFACE_HANDLE usb = nullptr;
        std::deque<OVERLAPPED> writes;  // stay where they are while pending
    } other;
    std::mutex mutex;
    scenario::Observed observed;
    std::thread mover;  // lets go of the dialog being moved
};

class Scenario : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        emu::UseScriptedDesktop();
        emu::ClearFaults();
        emu::UnplugAll();
        usbListener.connectedCutters.clear();
        SelectedCutterIndex = -1;
    }
    void TearDown() override {
        usbListener.connectedCutters.clear();
        emu::ClearFaults();
        emu::UnplugAll();
    }
};

TEST_P(Scenario, PlaysAsWritten) {
    std::ifstream file(std::string(SCENARIO_FOLDER) + "/" + GetParam() + ".scenario",
                       std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    scenario::Scenario played;
    std::string error;
    ASSERT_TRUE(scenario::Parse(GetParam(), text.str(), &played, &error)) << error;

    TempFolder jobs;
    LogWatch log;
    scenario::Observed observed = Player(played, jobs.Path() + "/").Play();
    observed.logText = log.NewRecords();
    for (const std::string& failure :
         scenario::Check(played, observed, jobs.Path() + "/", /*underWine=*/false)) {
        ADD_FAILURE() << GetParam() << ".scenario: " << failure;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Scenario, testing::ValuesIn(ScenarioNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
