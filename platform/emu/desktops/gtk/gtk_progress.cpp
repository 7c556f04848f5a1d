// A dialog of the program's templates, such as the progress dialog, as a GTK
// window: its texts, its progress bar and its buttons. Closing the window
// is the person's WM_CLOSE, which dialogs take as Cancel.
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {

struct ProgressWindow::State {
    InputSink sink;
    GtkWidget* window = nullptr;
    GtkProgressBar* bar = nullptr;

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
        static_cast<State*>(self)->sink({PersonInput::Kind::Close, 0, 0, {}});
        return TRUE;  // the program decides whether it goes
    }
    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self) {
        if (event->keyval != GDK_KEY_Escape) return FALSE;
        static_cast<State*>(self)->sink({PersonInput::Kind::Escape, 0, 0, {}});
        return TRUE;
    }
    static void OnClicked(GtkButton* button, gpointer self) {
        const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "control"));
        static_cast<State*>(self)->sink({PersonInput::Kind::Click, id, 0, {}});
    }
};

ProgressWindow::ProgressWindow(const ShownDialog& view, InputSink sink) : state_(new State) {
    state_->sink = std::move(sink);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    state_->window = window;
    gtk_window_set_title(GTK_WINDOW(window), view.title.c_str());
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    GtkWidget* rows = gtk_box_new(GTK_ORIENTATION_VERTICAL, 18);
    gtk_container_set_border_width(GTK_CONTAINER(rows), 18);
    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_CENTER);
    for (const ShownControl& control : view.controls) {
        if (control.kind == ShownControl::Kind::Label && !control.text.empty()) {
            gtk_box_pack_start(GTK_BOX(rows), gtk_label_new(control.text.c_str()), FALSE, FALSE, 0);
        } else if (control.kind == ShownControl::Kind::Progress) {
            state_->bar = GTK_PROGRESS_BAR(gtk_progress_bar_new());
            gtk_widget_set_size_request(GTK_WIDGET(state_->bar), 320, -1);
            gtk_progress_bar_set_show_text(state_->bar, TRUE);
            gtk_box_pack_start(GTK_BOX(rows), GTK_WIDGET(state_->bar), FALSE, FALSE, 0);
        } else if (control.kind == ShownControl::Kind::Button) {
            GtkWidget* button = gtk_button_new_with_mnemonic(Mnemonic(control.text).c_str());
            g_object_set_data(G_OBJECT(button), "control", GINT_TO_POINTER(control.id));
            g_signal_connect(button, "clicked", G_CALLBACK(&State::OnClicked), state_.get());
            gtk_container_add(GTK_CONTAINER(buttons), button);
        }
    }
    // The label comes before the bar however the template orders them.
    if (state_->bar != nullptr) gtk_box_reorder_child(GTK_BOX(rows), GTK_WIDGET(state_->bar), -1);
    gtk_box_pack_end(GTK_BOX(rows), buttons, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), rows);
    g_signal_connect(window, "delete-event", G_CALLBACK(&State::OnDelete), state_.get());
    g_signal_connect(window, "key-press-event", G_CALLBACK(&State::OnKey), state_.get());
    for (const ShownControl& control : view.controls) {
        if (control.kind == ShownControl::Kind::Progress) SetPosition(control.position);
    }
    gtk_widget_show_all(window);
    gtk_window_present(GTK_WINDOW(window));
}

ProgressWindow::~ProgressWindow() {
    gtk_widget_destroy(state_->window);
}

void ProgressWindow::SetPosition(int percent) {
    if (state_->bar == nullptr) return;
    gtk_progress_bar_set_fraction(state_->bar, std::clamp(percent, 0, 100) / 100.0);
}

void* ProgressWindow::Window() const {
    return state_->window;
}

}  // namespace emu
