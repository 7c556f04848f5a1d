// Message boxes as modal GTK dialogs: icon, text and buttons. Ctrl+C copies the box as
// Windows does, caption, text and buttons between dashed lines.
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {
namespace {

struct Box {
    std::string copied;
    BoxButtons buttons;
    std::function<void(BoxAnswer)> answered;
};

// The icons of the freedesktop naming scheme that Windows' icons stand for.
const char* IconName(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Error:
            return "dialog-error";
        case BoxIcon::Question:
            return "dialog-question";
        case BoxIcon::Warning:
            return "dialog-warning";
        case BoxIcon::Information:
            return "dialog-information";
        case BoxIcon::None:
            break;
    }
    return nullptr;
}

// The icon on the left of the text, as Windows lays a box out.
void AddBody(GtkDialog* dialog, BoxIcon icon, const std::string& text) {
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
    gtk_container_set_border_width(GTK_CONTAINER(row), 18);
    if (const char* name = IconName(icon)) {
        GtkWidget* image = gtk_image_new_from_icon_name(name, GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(image, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    }
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    gtk_box_pack_start(GTK_BOX(row), label, TRUE, TRUE, 0);
    gtk_widget_show_all(row);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), row, TRUE, TRUE, 0);
}

void AddButtons(GtkDialog* dialog, BoxButtons buttons) {
    switch (buttons) {
        case BoxButtons::Ok:
            gtk_dialog_add_button(dialog, "_OK", static_cast<gint>(BoxAnswer::Ok));
            break;
        case BoxButtons::OkCancel:
            gtk_dialog_add_button(dialog, "_OK", static_cast<gint>(BoxAnswer::Ok));
            gtk_dialog_add_button(dialog, "_Cancel", static_cast<gint>(BoxAnswer::Cancel));
            break;
        case BoxButtons::YesNo:
            gtk_dialog_add_button(dialog, "_Yes", static_cast<gint>(BoxAnswer::Yes));
            gtk_dialog_add_button(dialog, "_No", static_cast<gint>(BoxAnswer::No));
            break;
    }
}

std::string ButtonNames(BoxButtons buttons) {
    switch (buttons) {
        case BoxButtons::Ok:
            return "OK   ";
        case BoxButtons::OkCancel:
            return "OK   Cancel   ";
        case BoxButtons::YesNo:
            return "Yes   No   ";
    }
    return "";
}

gboolean OnKey(GtkWidget* dialog, GdkEventKey* event, gpointer data) {
    if ((event->state & GDK_CONTROL_MASK) == 0 ||
        (event->keyval != GDK_KEY_c && event->keyval != GDK_KEY_C)) {
        return FALSE;
    }
    const std::string& copied = static_cast<Box*>(data)->copied;
    gtk_clipboard_set_text(gtk_widget_get_clipboard(dialog, GDK_SELECTION_CLIPBOARD),
                           copied.c_str(), static_cast<gint>(copied.size()));
    return TRUE;
}

void OnResponse(GtkDialog* dialog, gint response, gpointer data) {
    auto* box = static_cast<Box*>(data);
    // As on Windows, closing the box (Esc, the close button) answers Cancel,
    // or OK when OK is its only button; a Yes/No box cannot be closed so.
    BoxAnswer answer = static_cast<BoxAnswer>(response);
    if (response < 0 && box->buttons == BoxButtons::YesNo) return;
    if (response < 0) answer = box->buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Cancel;
    // Gone before the program goes on, which may end the process.
    std::function<void(BoxAnswer)> answered = box->answered;
    gtk_widget_destroy(GTK_WIDGET(dialog));
    answered(answer);
}

void FreeBox(gpointer data, GClosure*) {
    delete static_cast<Box*>(data);
}

}  // namespace

void* ShowMessageBox(void* parent, const std::string& caption, const std::string& text,
                     BoxIcon icon, BoxButtons buttons, std::function<void(BoxAnswer)> answered) {
    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), caption.c_str());
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    if (parent != nullptr)
        gtk_window_set_transient_for(GTK_WINDOW(dialog), static_cast<GtkWindow*>(parent));
    AddBody(GTK_DIALOG(dialog), icon, text);
    AddButtons(GTK_DIALOG(dialog), buttons);
    const std::string line = "---------------------------\r\n";
    auto* box = new Box{line + caption + "\r\n" + line + text + "\r\n" + line +
                            ButtonNames(buttons) + "\r\n" + line,
                        buttons, std::move(answered)};
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(&OnKey), box);
    g_signal_connect_data(dialog, "response", G_CALLBACK(&OnResponse), box, &FreeBox,
                          GConnectFlags(0));
    gtk_window_present(GTK_WINDOW(dialog));
    return dialog;
}

void CloseMessageBox(void* box) {
    gtk_widget_destroy(static_cast<GtkWidget*>(box));  // frees its Box, emits no response
}

}  // namespace emu
