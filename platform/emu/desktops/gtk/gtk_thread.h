// The GTK thread: the display server of the GTK desktop. It opens the display
// once and runs GTK's main loop for the rest of the process; other threads
// never call GTK, they hand it work. Once the display is lost (its server
// gone or no longer answering) work handed over is dropped and nobody waits
// for the thread any more.
#pragma once

#include <functional>
#include <string>

namespace emu {

class GtkDisplay {
  public:
    virtual ~GtkDisplay() = default;

    // Runs `task` on the GTK thread, after the tasks posted before it.
    virtual void Post(std::function<void()> task) = 0;
    // Posts `task` and waits until it has run: true then. False when the
    // display is lost, before or meanwhile, or the thread does not answer
    // within a few seconds; the task may then run later or never, so it
    // must own what it touches.
    virtual bool PostAndWait(std::function<void()> task) = 0;
    // `listener` hears once, on a thread other than the GTK thread, that the
    // display was lost and why; at once if it already was.
    virtual void OnLost(std::function<void(const std::string& why)> listener) = 0;
};

// Starts the GTK thread on the first call; null when no display can be
// opened, with GTK's reason in `whyNot`. The thread outlives every desktop,
// as a display server does.
GtkDisplay* OpenGtkDisplay(std::string* whyNot = nullptr);

}  // namespace emu
