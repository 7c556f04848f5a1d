// A person at the screen of the program's GTK windows, from outside its
// process: reads them through the accessibility tree (AT-SPI) and acts on
// them through it or through X input events (xdotool).
//
//   gtk_person PID look chooser|progress|box WHAT [EXPECTED]
//   gtk_person PID press chooser|progress|box BUTTON
//   gtk_person PID choose N          the Nth entry of the "&Output:" list
//   gtk_person PID type PATH         typed into the chooser's location box
//   gtk_person PID key KEY           a key to the progress window
//   gtk_person PID bar N             waits until the bar shows N % or more
//   gtk_person PID move-until N      drags the progress window until then
//
// WHAT is "title", "list", "selected", "file name", "send button" or
// "text". A look waits up to 5 s for EXPECTED, since the windows follow the
// program a moment later; it prints what it saw last. Every wait is bounded;
// exit code 0 when done, 1 with the reason on standard error.
#include <atspi/atspi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/scenario_runner/scenario.h"

namespace {

using Clock = std::chrono::steady_clock;

// A window comes within this, or the person gives up and says so.
constexpr auto kWindowPatience = std::chrono::seconds(20);
// How long a look waits for what is expected.
constexpr auto kLookPatience = std::chrono::seconds(5);
// The bar reaches a percentage within this.
constexpr auto kBarPatience = std::chrono::seconds(30);

// Owns one reference to an accessible.
class Node {
  public:
    Node() = default;
    explicit Node(AtspiAccessible* owned) : a(owned) {}
    Node(const Node& other) : a(other.a) {
        if (a != nullptr) g_object_ref(a);
    }
    Node& operator=(Node other) {
        std::swap(a, other.a);
        return *this;
    }
    ~Node() {
        if (a != nullptr) g_object_unref(a);
    }
    AtspiAccessible* get() const { return a; }
    explicit operator bool() const { return a != nullptr; }

  private:
    AtspiAccessible* a = nullptr;
};

std::string Take(gchar* text) {
    std::string copy = text != nullptr ? text : "";
    g_free(text);
    return copy;
}

std::string NameOf(const Node& node) {
    return Take(atspi_accessible_get_name(node.get(), nullptr));
}

AtspiRole RoleOf(const Node& node) {
    return atspi_accessible_get_role(node.get(), nullptr);
}

std::vector<Node> ChildrenOf(const Node& node) {
    std::vector<Node> children;
    if (!node) return children;  // the program has ended
    const int count = atspi_accessible_get_child_count(node.get(), nullptr);
    for (int i = 0; i < count; ++i) {
        Node child(atspi_accessible_get_child_at_index(node.get(), i, nullptr));
        if (child) children.push_back(child);
    }
    return children;
}

// Depth first, in the order a person reads the window.
void Collect(const Node& node, const std::function<bool(const Node&)>& wanted,
             std::vector<Node>* found, int depth = 0) {
    if (depth > 40) return;
    for (const Node& child : ChildrenOf(node)) {
        if (wanted(child)) found->push_back(child);
        Collect(child, wanted, found, depth + 1);
    }
}

Node First(const Node& node, const std::function<bool(const Node&)>& wanted) {
    std::vector<Node> found;
    Collect(node, wanted, &found);
    return found.empty() ? Node() : found.front();
}

std::function<bool(const Node&)> Role(AtspiRole role) {
    return [role](const Node& node) { return RoleOf(node) == role; };
}

std::string TextOf(const Node& node) {
    AtspiText* text = atspi_accessible_get_text_iface(node.get());
    if (text == nullptr) return NameOf(node);
    std::string all = Take(atspi_text_get_text(text, 0, -1, nullptr));
    g_object_unref(text);
    return all;
}

Node Application(int pid) {
    Node desktop(atspi_get_desktop(0));
    for (const Node& app : ChildrenOf(desktop)) {
        if (static_cast<int>(atspi_accessible_get_process_id(app.get(), nullptr)) == pid) {
            return app;
        }
    }
    return Node();
}

bool HasProgressBar(const Node& window) {
    return static_cast<bool>(First(window, Role(ATSPI_ROLE_PROGRESS_BAR)));
}

// What the program's top-level `window` is: "chooser", "progress" or "box".
std::string KindOf(const Node& window) {
    const AtspiRole role = RoleOf(window);
    if (role == ATSPI_ROLE_FILE_CHOOSER) return "chooser";
    if (HasProgressBar(window)) return "progress";
    if (role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_ALERT) return "box";
    return "";
}

// The program's window of `kind`, now; the newest when there are several.
Node WindowNow(int pid, const std::string& kind) {
    Node found;
    for (const Node& window : ChildrenOf(Application(pid))) {
        if (KindOf(window) == kind) found = window;
    }
    return found;
}

[[noreturn]] void GiveUp(const std::string& why) {
    std::fprintf(stderr, "%s\n", why.c_str());
    std::exit(1);
}

Node Window(int pid, const std::string& kind) {
    const auto deadline = Clock::now() + kWindowPatience;
    while (Clock::now() < deadline) {
        if (Node window = WindowNow(pid, kind)) return window;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    GiveUp("no " + kind + " window within 20 s");
}

// The "&Output:" list: the combo box beside its label.
Node CutterList(const Node& chooser) {
    std::vector<Node> labels;
    Collect(chooser, Role(ATSPI_ROLE_LABEL), &labels);
    for (const Node& label : labels) {
        if (NameOf(label) != "Output:") continue;
        Node row(atspi_accessible_get_parent(label.get(), nullptr));
        for (const Node& sibling : ChildrenOf(row)) {
            if (RoleOf(sibling) == ATSPI_ROLE_COMBO_BOX) return sibling;
        }
    }
    GiveUp("the chooser has no list beside \"Output:\"");
}

std::string ListEntries(const Node& list) {
    std::vector<std::string> entries;
    for (const Node& menu : ChildrenOf(list)) {
        for (const Node& item : ChildrenOf(menu)) entries.push_back(NameOf(item));
    }
    return scenario::QuoteList(entries);
}

// The name of the file selected in the chooser's list of files; a folder
// the list selects as it opens is no file name.
std::string SelectedFile(const Node& chooser) {
    Node files = First(chooser, [](const Node& n) {
        return RoleOf(n) == ATSPI_ROLE_TABLE && NameOf(n) == "Files";
    });
    AtspiTable* table = files ? atspi_accessible_get_table_iface(files.get()) : nullptr;
    if (table == nullptr) return "";
    GArray* rows = atspi_table_get_selected_rows(table, nullptr);
    std::vector<std::string> names;
    for (guint i = 0; rows != nullptr && i < rows->len; ++i) {
        const gint row = g_array_index(rows, gint, i);
        // Folders show no size: a folder is no file name.
        Node size(atspi_table_get_accessible_at(table, row, 1, nullptr));
        if (!size || TextOf(size).empty()) continue;
        // The name column's cell holds the icon and the name.
        Node cell(atspi_table_get_accessible_at(table, row, 0, nullptr));
        Node name = First(cell, [](const Node& n) { return !TextOf(n).empty(); });
        if (cell && !TextOf(cell).empty()) name = cell;
        if (name) names.push_back(TextOf(name));
    }
    if (rows != nullptr) g_array_free(rows, TRUE);
    g_object_unref(table);
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

// A button's label with its access key marked by '&', as the program wrote
// it: the person sees the letter underlined.
std::string WithAccessKey(const Node& button) {
    std::string name = NameOf(button);
    AtspiAction* action = atspi_accessible_get_action_iface(button.get());
    if (action == nullptr) return name;
    const std::string binding = Take(atspi_action_get_key_binding(action, 0, nullptr));
    g_object_unref(action);
    const std::size_t mark = binding.rfind('>');
    if (mark == std::string::npos || mark + 1 >= binding.size()) return name;
    const char key = binding[mark + 1];
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (g_ascii_tolower(name[i]) == g_ascii_tolower(key)) return name.insert(i, "&");
    }
    return name;
}

Node ButtonNamed(const Node& window, const std::string& name) {
    return First(window, [&name](const Node& n) {
        return RoleOf(n) == ATSPI_ROLE_PUSH_BUTTON && NameOf(n) == name;
    });
}

// The chooser's accept button: the one beside Cancel.
Node AcceptButton(const Node& chooser) {
    Node cancel = ButtonNamed(chooser, "Cancel");
    if (!cancel) GiveUp("the chooser has no Cancel button");
    Node row(atspi_accessible_get_parent(cancel.get(), nullptr));
    for (const Node& button : ChildrenOf(row)) {
        if (RoleOf(button) == ATSPI_ROLE_PUSH_BUTTON && NameOf(button) != "Cancel") return button;
    }
    GiveUp("the chooser has no button beside Cancel");
}

std::string LookOnce(const Node& window, const std::string& kind, const std::string& what) {
    if (what == "title") return NameOf(window);
    if (what == "list") return ListEntries(CutterList(window));
    if (what == "selected") return NameOf(CutterList(window));
    if (what == "file name") return SelectedFile(window);
    if (what == "send button") return WithAccessKey(AcceptButton(window));
    // "text": the window's sentence, or the box's text.
    std::vector<Node> labels;
    Collect(window, Role(ATSPI_ROLE_LABEL), &labels);
    for (const Node& label : labels) {
        const std::string text = TextOf(label);
        if (!text.empty() && (kind != "box" || text != "bladepost")) return text;
    }
    return "";
}

int Look(int pid, const std::string& kind, const std::string& what, const char* expected) {
    const auto deadline = Clock::now() + kLookPatience;
    std::string seen;
    do {
        seen = LookOnce(Window(pid, kind), kind, what);
        if (expected == nullptr || seen == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    std::fputs(seen.c_str(), stdout);
    return 0;
}

void DoAction(const Node& node, const std::string& what) {
    AtspiAction* action = atspi_accessible_get_action_iface(node.get());
    const bool done = action != nullptr && atspi_action_do_action(action, 0, nullptr);
    if (action != nullptr) g_object_unref(action);
    if (!done) GiveUp("could not " + what);
}

bool Sensitive(const Node& node) {
    AtspiStateSet* states = atspi_accessible_get_state_set(node.get());
    const bool sensitive =
        states != nullptr && atspi_state_set_contains(states, ATSPI_STATE_SENSITIVE);
    if (states != nullptr) g_object_unref(states);
    return sensitive;
}

// A person presses a button once it can be pressed: the chooser's accept
// button, for one, only once the typed name has reached it.
int Press(int pid, const std::string& kind, const std::string& name) {
    const Node window = Window(pid, kind);
    Node button =
        kind == "chooser" && name == "Send" ? AcceptButton(window) : ButtonNamed(window, name);
    if (!button) GiveUp("no button \"" + name + "\" in the " + kind + " window");
    const auto limit = Clock::now() + kLookPatience;
    while (!Sensitive(button)) {
        if (Clock::now() > limit) GiveUp("the button \"" + name + "\" stayed disabled for 5 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    DoAction(button, "press " + name);
    return 0;
}

// The chooser's location box shows `path`, all of it typed: keys reach GTK
// by X, a press by the accessibility bus, and one may overtake the other.
void WaitUntilTyped(int pid, const std::string& path) {
    const auto limit = Clock::now() + kLookPatience;
    for (;;) {
        const Node box = First(Window(pid, "chooser"), [&path](const Node& n) {
            return RoleOf(n) == ATSPI_ROLE_TEXT && TextOf(n) == path;
        });
        if (box) return;
        if (Clock::now() > limit)
            GiveUp("the location box did not show \"" + path + "\" within 5 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int Choose(int pid, int number) {
    Node list = CutterList(Window(pid, "chooser"));
    AtspiSelection* selection = atspi_accessible_get_selection_iface(list.get());
    const bool done =
        selection != nullptr && atspi_selection_select_child(selection, number - 1, nullptr);
    if (selection != nullptr) g_object_unref(selection);
    if (!done) GiveUp("could not choose entry " + std::to_string(number));
    return 0;
}

double BarPercent(const Node& window) {
    Node bar = First(window, Role(ATSPI_ROLE_PROGRESS_BAR));
    AtspiValue* value = bar ? atspi_accessible_get_value_iface(bar.get()) : nullptr;
    if (value == nullptr) return -1;
    const double fraction = atspi_value_get_current_value(value, nullptr);
    g_object_unref(value);
    return fraction * 100.0;
}

// X input goes through xdotool, to the program's visible window `title`.
// A window that is going away may still be found, so a failure is tried
// again a few times.
bool Xdotool(int pid, const std::string& title, const std::string& commands, int attempts = 5) {
    const std::string line = "xdotool search --onlyvisible --pid " + std::to_string(pid) +
                             " --name '^" + title + "$' " + commands;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (std::system(("timeout 20 " + line + " 2>/dev/null").c_str()) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    if (attempts > 1) GiveUp("failed " + std::to_string(attempts) + " times: " + line);
    return false;
}

int Bar(int pid, int percent, const std::function<void()>& meanwhile) {
    const auto deadline = Clock::now() + kBarPatience;
    double seen = -1;
    while (Clock::now() < deadline) {
        Node window = WindowNow(pid, "progress");
        if (!window)
            GiveUp("the progress window went before the bar showed " + std::to_string(percent) +
                   "%");
        seen = BarPercent(window);
        if (seen + 0.5 >= percent) return 0;
        if (meanwhile) meanwhile();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    GiveUp("the bar showed " + std::to_string(seen) + "% after 30 s, not " +
           std::to_string(percent) + "%");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) GiveUp("usage: gtk_person PID look|press|choose|type|key|bar|move-until ...");
    if (atspi_init() > 1) GiveUp("no accessibility bus");
    const int pid = std::atoi(argv[1]);
    const std::string verb = argv[2];
    const std::string title = "Send to Cutter Utility";
    if (verb == "look" && argc >= 5)
        return Look(pid, argv[3], argv[4], argc > 5 ? argv[5] : nullptr);
    if (verb == "press" && argc == 5) return Press(pid, argv[3], argv[4]);
    if (verb == "choose") return Choose(pid, std::atoi(argv[3]));
    if (verb == "type") {
        Window(pid, "chooser");
        Xdotool(pid, title,
                "windowfocus --sync key ctrl+l type --delay 10 '" + std::string(argv[3]) + "'");
        WaitUntilTyped(pid, argv[3]);
        return 0;
    }
    if (verb == "key") {
        Window(pid, "progress");
        Xdotool(pid, title, std::string("windowfocus --sync key ") + argv[3]);
        return 0;
    }
    if (verb == "bar") return Bar(pid, std::atoi(argv[3]), {});
    if (verb == "move-until") {
        // The window system moves the window; the program is not told.
        int step = 0;
        return Bar(pid, std::atoi(argv[3]), [&] {
            step = (step + 1) % 40;
            // The window may go at any moment: the program does not wait.
            Xdotool(pid, title, "windowmove %1 " + std::to_string(100 + step * 5) + " 100", 1);
        });
    }
    GiveUp("unknown request: " + verb);
}
