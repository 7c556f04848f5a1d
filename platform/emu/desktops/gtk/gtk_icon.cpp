// The program's name and icon as the desktop sees them: launchers match the
// windows to the desktop entry by the name, task bars show the icon.
#include <gtk/gtk.h>

#include "gtk_icon_svg.h"
#include "platform/emu/desktops/gtk/gtk_windows.h"

namespace emu {

void NameProgram() {
    g_set_prgname(kProgramName);
}

// The theme's icon where the package installed it; else the same drawing,
// built in, so that a program run from its build tree shows it too.
void SetProgramIcon() {
    if (gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), kProgramName)) {
        gtk_window_set_default_icon_name(kProgramName);
        return;
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("svg", nullptr);
    if (loader == nullptr) return;  // no SVG loader: the window manager's own icon
    const auto* bytes = reinterpret_cast<const guchar*>(kProgramIconSvg);
    if (gdk_pixbuf_loader_write(loader, bytes, sizeof kProgramIconSvg - 1, nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        if (GdkPixbuf* icon = gdk_pixbuf_loader_get_pixbuf(loader))
            gtk_window_set_default_icon(icon);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
}

}  // namespace emu
