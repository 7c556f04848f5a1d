// The file-open dialog as a GTK file chooser, with the program's template
// controls (the cutter list and Refresh) as its extra widget.
#include <fnmatch.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <map>

#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {
namespace {

std::vector<std::string> Patterns(const std::string& list) {
    std::vector<std::string> patterns;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string pattern = list.substr(start, end - start);
        // Windows' "*.*" matches names without a dot as well.
        if (!pattern.empty()) patterns.push_back(pattern == "*.*" ? "*" : pattern);
        start = end + 1;
    }
    return patterns;
}

// Windows matches patterns without regard to case: "JOB.PLT" is a data file.
gboolean Matches(const GtkFileFilterInfo* info, gpointer data) {
    const auto* patterns = static_cast<const std::vector<std::string>*>(data);
    if (info->display_name == nullptr) return FALSE;
    return std::any_of(patterns->begin(), patterns->end(), [&](const std::string& pattern) {
        return fnmatch(pattern.c_str(), info->display_name, FNM_CASEFOLD) == 0;
    });
}

void FreePatterns(gpointer data) {
    delete static_cast<std::vector<std::string>*>(data);
}

void AddFilters(GtkFileChooser* chooser, const ChooserSetup& setup) {
    for (std::size_t i = 0; i < setup.filters.size(); ++i) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, setup.filters[i].first.c_str());
        gtk_file_filter_add_custom(filter, GTK_FILE_FILTER_DISPLAY_NAME, &Matches,
                                   new std::vector<std::string>(Patterns(setup.filters[i].second)),
                                   &FreePatterns);
        gtk_file_chooser_add_filter(chooser, filter);
        if (static_cast<int>(i) == setup.filterIndex) gtk_file_chooser_set_filter(chooser, filter);
    }
}

}  // namespace

struct FileChooser::State {
    InputSink sink;
    GtkWidget* dialog = nullptr;
    GtkWidget* extra = nullptr;        // the template's controls: "Output:", Refresh
    GtkWidget* beforeExtra = nullptr;  // what had the focus before they got it
    std::map<int, GtkComboBoxText*> lists;
    std::map<int, std::vector<std::string>> shownItems;
    std::map<int, unsigned> shownFills;
    std::map<GtkComboBoxText*, gulong> changed;

    void BuildExtra(const ShownDialog& view);
    void ShowList(GtkComboBoxText* list, const ShownControl& control);

    static void OnChanged(GtkComboBox* list, gpointer self) {
        auto* state = static_cast<State*>(self);
        const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(list), "control"));
        const int index = gtk_combo_box_get_active(list);
        if (index >= 0)
            state->sink({PersonInput::Kind::Select, id, index, {}, state->shownFills[id]});
    }
    static void OnClicked(GtkButton* button, gpointer self) {
        const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "control"));
        static_cast<State*>(self)->sink({PersonInput::Kind::Click, id, 0, {}});
    }
    static bool InExtra(const State* state, GtkWidget* widget) {
        return widget != nullptr && state->extra != nullptr &&
               (widget == state->extra || gtk_widget_is_ancestor(widget, state->extra));
    }
    // Remembers the chooser's own control that had the focus when the
    // person went to the template's controls (before the change is made).
    static void OnSetFocus(GtkWindow* window, GtkWidget* next, gpointer self) {
        auto* state = static_cast<State*>(self);
        GtkWidget* now = gtk_window_get_focus(window);
        if (!InExtra(state, next) || now == nullptr || InExtra(state, now)) return;
        if (state->beforeExtra != nullptr)
            g_object_remove_weak_pointer(G_OBJECT(state->beforeExtra),
                                         reinterpret_cast<gpointer*>(&state->beforeExtra));
        state->beforeExtra = now;
        g_object_add_weak_pointer(G_OBJECT(now), reinterpret_cast<gpointer*>(&state->beforeExtra));
    }
    // Enter and Alt+S send from every control, as in a Windows dialog, the
    // closed cutter list included. GTK's chooser takes a name only from the
    // control that was used last, and refuses to answer from the template's
    // controls: the focus goes back to the chooser's own control, and what
    // was typed there is sent as Send would (a name chosen in the list is
    // left to GTK's own Send).
    // A dropped-down list takes its keys in a window of its own.
    static gboolean OnKey(GtkWidget* dialog, GdkEventKey* key, gpointer self) {
        auto* state = static_cast<State*>(self);
        const guint modifiers = key->state & gtk_accelerator_get_default_mod_mask();
        const bool enter =
            (key->keyval == GDK_KEY_Return || key->keyval == GDK_KEY_KP_Enter) && modifiers == 0;
        const bool altS =
            gdk_keyval_to_lower(key->keyval) == GDK_KEY_s && modifiers == GDK_MOD1_MASK;
        if (!(enter || altS) || !InExtra(state, gtk_window_get_focus(GTK_WINDOW(dialog))))
            return FALSE;
        if (state->beforeExtra != nullptr) gtk_widget_grab_focus(state->beforeExtra);
        const std::string typed = Typed(state);
        if (typed.empty()) return gtk_window_activate_default(GTK_WINDOW(dialog));
        state->sink({PersonInput::Kind::Open, 0, 0, typed});
        return TRUE;
    }
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self) {
        auto* state = static_cast<State*>(self);
        if (response != GTK_RESPONSE_ACCEPT) {
            state->sink({PersonInput::Kind::Cancel, 0, 0, {}});
            return;
        }
        gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        if (path == nullptr) return;  // a location that is not a local file
        state->sink({PersonInput::Kind::Open, 0, 0, path});
        g_free(path);
    }
    // What the person typed in the location box, as a full path, or empty.
    static std::string Typed(const State* state) {
        if (state->beforeExtra == nullptr || !GTK_IS_ENTRY(state->beforeExtra)) return "";
        const std::string text = gtk_entry_get_text(GTK_ENTRY(state->beforeExtra));
        if (text.empty() || text[0] == '/') return text;
        gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(state->dialog));
        const std::string full = folder != nullptr ? std::string(folder) + "/" + text : "";
        g_free(folder);
        return full;
    }
};

void FileChooser::State::ShowList(GtkComboBoxText* list, const ShownControl& control) {
    g_signal_handler_block(list, changed[list]);
    if (shownItems[control.id] != control.items) {
        gtk_combo_box_text_remove_all(list);
        for (const std::string& item : control.items)
            gtk_combo_box_text_append_text(list, item.c_str());
        shownItems[control.id] = control.items;
    }
    shownFills[control.id] = control.fills;
    gtk_combo_box_set_active(GTK_COMBO_BOX(list), control.selection);
    g_signal_handler_unblock(list, changed[list]);
}

// The template's controls from left to right; a label names the control on
// its right, as "&Output:" names the list.
void FileChooser::State::BuildExtra(const ShownDialog& view) {
    std::vector<ShownControl> controls = view.controls;
    std::stable_sort(controls.begin(), controls.end(),
                     [](const ShownControl& a, const ShownControl& b) { return a.left < b.left; });
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    GtkWidget* label = nullptr;
    for (const ShownControl& control : controls) {
        GtkWidget* widget = nullptr;
        if (control.kind == ShownControl::Kind::Label) {
            widget = gtk_label_new_with_mnemonic(Mnemonic(control.text).c_str());
        } else if (control.kind == ShownControl::Kind::List) {
            auto* list = GTK_COMBO_BOX_TEXT(gtk_combo_box_text_new());
            changed[list] = g_signal_connect(list, "changed", G_CALLBACK(&State::OnChanged), this);
            lists[control.id] = list;
            ShowList(list, control);
            widget = GTK_WIDGET(list);
            gtk_widget_set_hexpand(widget, TRUE);
        } else if (control.kind == ShownControl::Kind::Button) {
            widget = gtk_button_new_with_mnemonic(Mnemonic(control.text).c_str());
            g_signal_connect(widget, "clicked", G_CALLBACK(&State::OnClicked), this);
        }
        if (widget == nullptr) continue;
        g_object_set_data(G_OBJECT(widget), "control", GINT_TO_POINTER(control.id));
        if (label != nullptr) gtk_label_set_mnemonic_widget(GTK_LABEL(label), widget);
        label = control.kind == ShownControl::Kind::Label ? widget : nullptr;
        gtk_box_pack_start(GTK_BOX(box), widget, control.kind == ShownControl::Kind::List, TRUE, 0);
    }
    gtk_widget_show_all(box);
    gtk_file_chooser_set_extra_widget(GTK_FILE_CHOOSER(dialog), box);
    extra = box;
}

FileChooser::FileChooser(const ShownDialog& view, const ChooserSetup& setup, InputSink sink)
    : state_(new State) {
    state_->sink = std::move(sink);
    state_->dialog = gtk_file_chooser_dialog_new(
        view.title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel", GTK_RESPONSE_CANCEL,
        Mnemonic(setup.acceptLabel).c_str(), GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(state_->dialog);
    gtk_dialog_set_default_response(GTK_DIALOG(state_->dialog), GTK_RESPONSE_ACCEPT);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    AddFilters(chooser, setup);
    if (!setup.folder.empty()) gtk_file_chooser_set_current_folder(chooser, setup.folder.c_str());
    if (!setup.file.empty()) gtk_file_chooser_select_filename(chooser, setup.file.c_str());
    state_->BuildExtra(view);
    g_signal_connect(state_->dialog, "response", G_CALLBACK(&State::OnResponse), state_.get());
    g_signal_connect(state_->dialog, "key-press-event", G_CALLBACK(&State::OnKey), state_.get());
    g_signal_connect(state_->dialog, "set-focus", G_CALLBACK(&State::OnSetFocus), state_.get());
    gtk_window_set_default_size(GTK_WINDOW(state_->dialog), 800, 560);
    gtk_window_present(GTK_WINDOW(state_->dialog));
}

FileChooser::~FileChooser() {
    if (state_->beforeExtra != nullptr)
        g_object_remove_weak_pointer(G_OBJECT(state_->beforeExtra),
                                     reinterpret_cast<gpointer*>(&state_->beforeExtra));
    gtk_widget_destroy(state_->dialog);
}

void FileChooser::Update(const ShownDialog& view) {
    for (const ShownControl& control : view.controls) {
        auto list = state_->lists.find(control.id);
        if (list != state_->lists.end()) state_->ShowList(list->second, control);
    }
}

void FileChooser::Refused(const std::string& name, const std::string& reason) {
    GtkWidget* box =
        gtk_message_dialog_new(GTK_WINDOW(state_->dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING,
                               GTK_BUTTONS_OK, "%s", name.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", reason.c_str());
    g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_window_present(GTK_WINDOW(box));
}

std::string Mnemonic(const std::string& text) {
    std::string marked;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            marked += text[i] == '&' ? "&" : "_";
            if (text[i] == '&') continue;
        }
        if (text[i] == '_') marked += '_';  // a literal underscore
        marked += text[i];
    }
    return marked;
}

}  // namespace emu
