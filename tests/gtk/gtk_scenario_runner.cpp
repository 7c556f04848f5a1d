// Plays one scenario of tests/scenarios on the GTK desktop: the program runs
// here on its GTK windows, with the cutters, job files and faults of the
// emulation, while gtk_person, another process, reads and works those
// windows as a person would (accessibility tree and X input). The result is
// checked with the same comparison as the other runners.
//
//   gtk_scenario_runner <scenario file> <gtk_person>
//
// Runs under an X server and a D-Bus session with the accessibility bus
// (tests/gtk/gtk_scenarios). Prints one line per difference, then
// "PASS <name>" or "FAIL <name>"; exit code 0 only when it passed. Every
// wait is bounded and says what it waited for when it gives up.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "tests/gtk/watched_desktop.h"
#include "tests/scenario_runner/emulated_world.h"
#include "tests/scenario_runner/scenario.h"
#include "tests/scenario_runner/scenario_check.h"
#include "tests/support/log_watch.h"
#include "tests/support/run_process.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_folder.h"
#include "tests/support/wide_text.h"

namespace {

using Kind = scenario::Step::Kind;
using Place = scenario::Place;

// The whole run, steps included; the process ends saying so after it.
constexpr std::chrono::seconds kRunDeadline(120);
// A window the program is due to show comes within this.
constexpr std::chrono::seconds kShowPatience(20);
// The program ends within this after the last step.
constexpr std::chrono::seconds kEndPatience(60);

class Player {
  public:
    Player(const scenario::Scenario& played, const std::string& folder, std::string personPath)
        : s(played),
          jobFolder(folder),
          person(std::move(personPath)),
          world(played, folder, &observed.problems) {}

    scenario::Observed Play() {
        world.SetUp();
        std::vector<int> holds;
        for (const scenario::Step& step : s.steps) {
            if (step.kind == Kind::WaitFor || step.kind == Kind::MoveUntil) {
                holds.push_back(step.number);
            } else if (step.kind == Kind::Begin && step.place == Place::Progress) {
                holds.push_back(WatchedDesktop::kShown);
            }
        }
        desktop->HoldAt(holds);
        std::future<int> program = std::async(std::launch::async, [this] {
            return RunProgram(Wide(scenario::Expand(s.commandLine, jobFolder)),
                              "scenario " + s.name, kRunDeadline);
        });
        bool played = true;
        for (std::size_t i = 0; i < s.steps.size() && played; ++i) played = PlayStep(i);
        LetGo();
        if (!played) desktop->ReleaseAll();  // the steps that would let it go are not played
        AnswerUnnamedBoxes(program);
        if (program.wait_for(kEndPatience) != std::future_status::ready) {
            // Its deadline would end the process without these lines.
            for (const std::string& problem : observed.problems)
                std::printf("%s\n", problem.c_str());
            std::printf("the program did not end within 60 s of the last step\nFAIL %s\n",
                        s.name.c_str());
            std::fflush(stdout);
            std::_Exit(1);
        }
        observed.exitCode = program.get();
        world.FinishOtherProgram();
        observed.received = world.Received();
        return observed;
    }

  private:
    // Runs gtk_person with `arguments`; false, with its reason, when it failed.
    bool Person(const std::vector<std::string>& arguments, std::string* out = nullptr) {
        std::vector<std::string> command = {person, std::to_string(getpid())};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const ProcessResult result = RunProcess(command, {});
        if (out != nullptr) *out = result.out;
        if (result.exitCode == 0) return true;
        std::string why = result.err;
        while (!why.empty() && why.back() == '\n') why.pop_back();
        observed.problems.push_back(At() + why);
        return false;
    }

    std::string At() const { return "line " + std::to_string(line) + ": "; }

    // The program's own records say when a window is due; the person then
    // finds it on the screen.
    bool Due(const char* what, const std::function<bool()>& shown) {
        const auto deadline = std::chrono::steady_clock::now() + kShowPatience;
        while (!shown()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                observed.problems.push_back(At() + "no " + what + " within 20 s");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    static const char* KindOf(Place place) {
        switch (place) {
            case Place::FileDialog:
                return "chooser";
            case Place::Progress:
                return "progress";
            case Place::MessageBox:
                return "box";
        }
        return "";
    }

    bool Begin(Place place) {
        if (place == Place::FileDialog) {
            const std::size_t showing = ++fileDialogs;
            return Due("file dialog", [&] { return desktop->FileDialogsOpened() >= showing; });
        }
        if (place == Place::Progress) {
            holding = true;  // held as it shows the dialog
            return Due("progress dialog", [&] { return desktop->ProgressDialogsShown() != 0; });
        }
        const std::size_t box = ++boxes;
        return Due("message box", [&] { return desktop->BoxesShown() >= box; }) && ReadBox();
    }

    // The program goes on from where it was held.
    void LetGo() {
        if (holding) desktop->Release();
        holding = false;
    }

    bool PlayStep(std::size_t index) {
        const scenario::Step& step = s.steps[index];
        line = step.line;
        if (step.kind == Kind::Begin || step.kind == Kind::WaitFor ||
            step.kind == Kind::MoveUntil) {
            LetGo();
        }
        const std::string kind = KindOf(step.place);
        switch (step.kind) {
            case Kind::Begin:
                return Begin(step.place);
            case Kind::Expect:
                if (step.place == Place::MessageBox) {
                    observed.seen[index] = observed.boxes.back().text;
                    return true;
                }
                return Person({"look", kind, step.what, step.Expected(false)},
                              &observed.seen[index]);
            case Kind::ChooseOutput:
                return Person({"choose", std::to_string(step.number)});
            case Kind::TypeFile: {
                const std::string name =
                    step.text.find('{') == std::string::npos ? "{" + step.text + "}" : step.text;
                return Person({"type", scenario::Expand(name, jobFolder)});
            }
            case Kind::Press:
                if (step.text == "Escape") return Person({"key", "Escape"});
                return Person({"press", kind, step.text});
            case Kind::SendCommand:
                PostMessageW(desktop->ProgressDialog(), WM_COMMAND,
                             static_cast<WPARAM>(step.number), 0);
                return true;
            case Kind::WaitFor:
                holding = true;
                return Person({"bar", std::to_string(step.number)});
            case Kind::MoveUntil:
                holding = true;
                return Person({"move-until", std::to_string(step.number)});
            case Kind::Plug:
                world.Plug(step.number);
                return true;
            case Kind::Unplug:
                world.Unplug(step.number);
                return true;
            case Kind::Grow:
                GrowJob(*s.FindJob(step.text), jobFolder);
                return true;
        }
        return true;
    }

    // Reads the box that came up, caption and text, as the check wants
    // every box, named or not.
    bool ReadBox() {
        scenario::MessageBoxSeen box;
        if (!Person({"look", "box", "title"}, &box.caption)) return false;
        if (!Person({"look", "box", "text"}, &box.text)) return false;
        observed.boxes.push_back(box);
        return true;
    }

    // Boxes the scenario does not name are read and answered, so that the
    // run ends and the check can name them.
    void AnswerUnnamedBoxes(std::future<int>& program) {
        const auto deadline = std::chrono::steady_clock::now() + kEndPatience;
        while (program.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready &&
               std::chrono::steady_clock::now() < deadline) {
            if (desktop->BoxesShown() <= boxes) continue;
            ++boxes;
            if (ReadBox()) Person({"press", "box", "OK"});
        }
    }

    const scenario::Scenario& s;
    const std::string jobFolder;
    const std::string person;
    scenario::Observed observed;
    EmulatedWorld world;
    std::shared_ptr<WatchedDesktop> desktop = WatchedDesktop::Install();
    std::size_t fileDialogs = 0;  // showings the steps have reached
    std::size_t boxes = 0;        // message boxes the steps have reached
    int line = 0;                 // of the step being played
    bool holding = false;         // the program waits at a hold point
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gtk_scenario_runner <scenario file> <gtk_person>\n");
        return 2;
    }
    scenario::Scenario played;
    std::string error;
    if (!scenario::Load(argv[1], &played, &error)) {
        std::printf("%s\nFAIL %s\n", error.c_str(), played.name.c_str());
        return 1;
    }
    const std::string& name = played.name;
    TempFolder jobs;
    LogWatch log;
    scenario::Observed observed = Player(played, jobs.Path() + "/", argv[2]).Play();
    observed.logText = log.NewRecords();
    const std::vector<std::string> failures =
        scenario::Check(played, observed, jobs.Path() + "/", /*underWine=*/false);
    for (const std::string& failure : failures) std::printf("%s\n", failure.c_str());
    std::printf("%s %s\n", failures.empty() ? "PASS" : "FAIL", name.c_str());
    return failures.empty() ? 0 : 1;
}
