#include "tests/scenario_runner/scenario_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "app/front_end_state.h"
#include "platform/emu/control.h"
#include "platform/emu/user32/desktop.h"
#include "resources/resource.h"
#include "tests/scenario_runner/scenario_check.h"
#include "tests/support/log_watch.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"
#include "usb/usb_device.h"
#include "usb/usb_listener.h"

namespace {

// A whole run of the program may take this long before the test gives up
// on it and says so; no scenario comes near it.
constexpr std::chrono::seconds kRunDeadline(60);

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
    Player(const scenario::Scenario& played, const std::string& folder, ScenarioWorld& around)
        : s(played), jobFolder(folder), world(around) {}

    scenario::Observed Play() {
        // The listener's completion port lives as long as the process: made
        // here, it is not counted as the run's.
        QUILL::UsbDevice{usbListener.ioService};
        world.SetUp();
        const std::size_t handles = emu::OpenHandleCount();
        Script();
        observed.exitCode = RunProgram(Wide(scenario::Expand(s.commandLine, jobFolder)),
                                       "scenario " + s.name, kRunDeadline);
        if (mover.joinable()) mover.join();
        CheckHandlesClosed(handles);
        world.FinishOtherProgram();
        world.CheckAfterRun();
        Collect();
        return observed;
    }

  private:
    // Every handle the run opened is closed again; the listener's cutters
    // hold none once closed.
    void CheckHandlesClosed(std::size_t before) {
        usbListener.connectedCutters.clear();
        const std::size_t after = emu::OpenHandleCount();
        if (after != before) {
            observed.problems.push_back(std::to_string(after) +
                                        " kernel handles open after the run, " +
                                        std::to_string(before) + " before it");
        }
    }

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
                return emu::Call([this, number] { world.Plug(number); });
            }
            case Kind::Unplug: {
                const int number = step.number;
                return emu::Call([this, number] { world.Unplug(number); });
            }
            case Kind::MoveUntil: {
                const int percent = step.number;
                return emu::Call([this, percent] { StartMove(percent); });
            }
            case Kind::Grow: {
                const scenario::Job* job = s.FindJob(step.text);
                return emu::Call([this, job] { GrowJob(*job, jobFolder); });
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
        observed.received = world.Received();
        for (const std::string& what : emu::Unscripted()) observed.problems.push_back(what);
    }

    const scenario::Scenario& s;
    const std::string jobFolder;
    std::mutex mutex;
    scenario::Observed observed;
    ScenarioWorld& world;
    std::thread mover;  // lets go of the dialog being moved
};

}  // namespace

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

std::string TestNameOf(const std::string& scenario) {
    std::string name = scenario;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

void PlayScenario(const std::string& name, const MakeWorld& makeWorld) {
    scenario::Scenario played;
    std::string error;
    ASSERT_TRUE(
        scenario::Load(std::string(SCENARIO_FOLDER) + "/" + name + ".scenario", &played, &error))
        << error;

    TempFolder jobs;
    LogWatch log;
    std::vector<std::string> problems;
    const std::unique_ptr<ScenarioWorld> world = makeWorld(played, jobs.Path() + "/", &problems);
    if (!world->CannotPlay().empty()) GTEST_SKIP() << world->CannotPlay();
    scenario::Observed observed = Player(played, jobs.Path() + "/", *world).Play();
    observed.problems.insert(observed.problems.end(), problems.begin(), problems.end());
    observed.logText = log.NewRecords();
    for (const std::string& failure :
         scenario::Check(played, observed, jobs.Path() + "/", /*underWine=*/false)) {
        ADD_FAILURE() << name << ".scenario: " << failure;
    }
}
