// The GTK thread: the display server of the GTK desktop. It opens the display
// once and runs GTK's main loop for the rest of the process; other threads
// never call GTK, they hand it work.
#pragma once

#include <functional>
#include <string>

namespace emu {

// Runs `task` on the GTK thread, after the tasks posted before it.
using GtkPoster = std::function<void(std::function<void()> task)>;

// Starts the GTK thread on the first call; null when no display can be
// opened, with GTK's reason in `whyNot`. The thread outlives every desktop,
// as a display server does.
GtkPoster OpenGtkDisplay(std::string* whyNot = nullptr);

}  // namespace emu
