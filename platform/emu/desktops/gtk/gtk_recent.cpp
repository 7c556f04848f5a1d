// The program's history in the desktop's Recent files, through GTK's recent
// manager, as Windows keeps a file dialog's history per program.
#include <gtk/gtk.h>

#include <string>

#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {

void AddRecentFile(const std::string& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr) return;
    gchar* type = g_content_type_guess(path.c_str(), nullptr, 0, nullptr);
    gchar* mime = g_content_type_get_mime_type(type);
    std::string exec = std::string(kProgramName) + " %f";
    GtkRecentData data{};
    data.mime_type = mime != nullptr ? mime : const_cast<gchar*>("application/octet-stream");
    data.app_name = const_cast<gchar*>(kProgramName);
    data.app_exec = exec.data();
    GtkRecentManager* recent = gtk_recent_manager_get_default();
    // The manager writes its file only after a delay; "changed" writes it now.
    if (gtk_recent_manager_add_full(recent, uri, &data)) g_signal_emit_by_name(recent, "changed");
    g_free(mime);
    g_free(type);
    g_free(uri);
}

std::string LastRecentFolder() {
    GList* items = gtk_recent_manager_get_items(gtk_recent_manager_get_default());
    std::string folder;
    time_t newest = 0;
    for (GList* item = items; item != nullptr; item = item->next) {
        auto* info = static_cast<GtkRecentInfo*>(item->data);
        const gchar* exec = nullptr;
        guint count = 0;
        time_t stamp = 0;
        if (gtk_recent_info_is_local(info) &&
            gtk_recent_info_get_application_info(info, kProgramName, &exec, &count, &stamp) &&
            stamp >= newest) {
            gchar* path = g_filename_from_uri(gtk_recent_info_get_uri(info), nullptr, nullptr);
            if (path != nullptr) {
                gchar* parent = g_path_get_dirname(path);
                folder = parent;
                newest = stamp;
                g_free(parent);
                g_free(path);
            }
        }
    }
    g_list_free_full(items, reinterpret_cast<GDestroyNotify>(gtk_recent_info_unref));
    return folder;
}

}  // namespace emu
