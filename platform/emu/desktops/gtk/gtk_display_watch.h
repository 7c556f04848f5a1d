// Whether the display GTK draws on is still there. When its X connection
// breaks GDK ends the process on the spot (_exit in its I/O error handler),
// so nothing the program holds is given back; and an X server that stops
// answering leaves the GTK thread waiting in Xlib for ever. The watch turns
// both into one call the desktop can act on.
#pragma once

#include <functional>
#include <string>

namespace emu {

// Called on the GTK thread once GTK is initialised. `lost` runs once, on a
// thread of the watch's own, with what happened ("DISPLAY=:5 closed the
// connection"); a GTK thread that met the broken connection is parked and
// never returns into Xlib. Displays other than X11 are not watched.
void WatchDisplay(std::function<void(const std::string& why)> lost);

}  // namespace emu
