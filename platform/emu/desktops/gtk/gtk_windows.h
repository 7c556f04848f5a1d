// The windows a person sees on the GTK desktop, described in plain data so
// that neither side needs the other's headers. The classes here live on the
// GTK thread only; what the person does comes back through an InputSink.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace emu {

// One control of an emulated dialog, as GTK shows it.
struct ShownControl {
    enum class Kind { Label, List, Button, Progress };
    Kind kind = Kind::Label;
    int id = 0;
    std::string text;  // with the '&' of its access key
    std::vector<std::string> items;
    int selection = -1;
    unsigned fills = 0;  // which filling of the list the items are
    int position = 0;
    long left = 0;  // for the order from left to right
};

struct ShownDialog {
    std::string title;
    std::vector<ShownControl> controls;
};

// What the file-open dialog was asked to offer.
struct ChooserSetup {
    std::string acceptLabel;                                   // "&Send"
    std::vector<std::pair<std::string, std::string>> filters;  // name, "*.plt;*.pm"
    int filterIndex = 0;                                       // from 0
    std::string folder;                                        // where it opens
    std::string file;                                          // a full path to preselect, or empty
};

// One thing the person did in a GTK window.
struct PersonInput {
    enum class Kind { Select, Click, Escape, Close, Open, Cancel };
    Kind kind = Kind::Click;
    int control = 0;
    int index = 0;
    std::string path;   // Open: the chosen file
    unsigned fill = 0;  // Select: the filling of the list the entry was chosen in
};
using InputSink = std::function<void(const PersonInput&)>;

// The program's name for the desktop: its desktop entry's window class and
// icon, and the application of its recent files.
inline constexpr char kProgramName[] = "bladepost";
// Names the program for GTK: before GTK is initialised.
void NameProgram();
// The windows' default icon: after GTK is initialised.
void SetProgramIcon();

// This program's files in the desktop's Recent files, on the GTK thread:
// adds `path` under the program's name, written at once (the process may
// end before GTK's own deferred write); the folder of the newest file the
// program added, or empty.
void AddRecentFile(const std::string& path);
std::string LastRecentFolder();

// "&Send" as GTK marks access keys: "_Send".
std::string Mnemonic(const std::string& text);

class FileChooser {
  public:
    FileChooser(const ShownDialog& dialog, const ChooserSetup& setup, InputSink sink);
    ~FileChooser();
    FileChooser(const FileChooser&) = delete;
    FileChooser& operator=(const FileChooser&) = delete;

    // The emulated dialog changed: the cutter list was filled again.
    void Update(const ShownDialog& dialog);
    // The program refused the chosen name.
    void Refused(const std::string& name, const std::string& reason);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

class ProgressWindow {
  public:
    ProgressWindow(const ShownDialog& dialog, InputSink sink);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    void SetPosition(int percent);
    // The GtkWindow, as the parent of a message box.
    void* Window() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Buttons of a message box, as MB_* types name them.
enum class BoxButtons { Ok, OkCancel, YesNo };
enum class BoxIcon { None, Error, Question, Warning, Information };
enum class BoxAnswer { Ok, Cancel, Yes, No };

// A modal message box over `parent` (a GtkWindow or null); `answered` gets
// the button that closed it. Returns the box, for CloseMessageBox.
void* ShowMessageBox(void* parent, const std::string& caption, const std::string& text,
                     BoxIcon icon, BoxButtons buttons, std::function<void(BoxAnswer)> answered);
// Takes down a box nobody answered; `answered` is not called.
void CloseMessageBox(void* box);

}  // namespace emu
