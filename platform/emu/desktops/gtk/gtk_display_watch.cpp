#include "platform/emu/desktops/gtk/gtk_display_watch.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>  // xcb_poll_for_reply: a reply awaited without blocking

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace emu {
namespace {

// How long the X server may take to answer before the display counts as
// gone, and how often it is asked. A person's display answers in
// milliseconds, a slow remote one well within the limit.
constexpr std::chrono::seconds kAnswerWithin{5};
constexpr int kAskEveryMs = 1000;

// Made once before the handler is installed; the handler only writes to it.
int brokenSignal = -1;

// On the GTK thread, inside Xlib: says so and never returns, since Xlib
// ends the process when its handler returns. Xlib takes the display's user
// lock for the handler, expecting it to end the process from this thread;
// it is given back, or the program's own exit would wait for it (the GL
// library closes its display hooks at exit).
int OnBrokenConnection(Display* display) {
    const std::uint64_t one = 1;
    if (::write(brokenSignal, &one, sizeof one) < 0) std::_Exit(1);
    XUnlockDisplay(display);
    for (;;) ::pause();
}

enum class Answer { Given, Broken, Late };

bool Signalled(int fd) {
    pollfd wait{fd, POLLIN, 0};
    return ::poll(&wait, 1, 0) > 0;
}

// Asks the server for something it must answer (the input focus), on a
// connection of the watch's own so that a busy GTK thread is not mistaken
// for a stopped server.
Answer Ask(xcb_connection_t* connection) {
    const xcb_get_input_focus_cookie_t cookie = xcb_get_input_focus(connection);
    if (xcb_flush(connection) <= 0) return Answer::Broken;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWithin;
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (xcb_poll_for_reply(connection, cookie.sequence, &reply, &error) != 0) {
            std::free(reply);
            std::free(error);
            return Answer::Given;
        }
        if (xcb_connection_has_error(connection) != 0 || Signalled(brokenSignal))
            return Answer::Broken;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Answer::Late;
        pollfd wait[] = {{xcb_get_file_descriptor(connection), POLLIN, 0},
                         {brokenSignal, POLLIN, 0}};
        if (::poll(wait, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return Answer::Broken;
    }
}

// One round: the server asked (when the watch has a connection), then a
// pause, which a broken connection of the GTK thread's cuts short.
Answer Round(xcb_connection_t* connection) {
    if (connection != nullptr) {
        const Answer answer = Ask(connection);
        if (answer != Answer::Given) return answer;
    }
    pollfd wait{brokenSignal, POLLIN, 0};
    return ::poll(&wait, 1, connection != nullptr ? kAskEveryMs : -1) > 0 ? Answer::Broken
                                                                          : Answer::Given;
}

void Watch(xcb_connection_t* connection, const std::string& display,
           const std::function<void(const std::string&)>& lost) {
    Answer answer = Answer::Given;
    while (answer == Answer::Given) answer = Round(connection);
    lost(answer == Answer::Late
             ? display + " did not answer for " + std::to_string(kAnswerWithin.count()) + " s"
             : display + " closed the connection");
    if (connection != nullptr) xcb_disconnect(connection);
}

}  // namespace

void WatchDisplay(std::function<void(const std::string& why)> lost) {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
    brokenSignal = ::eventfd(0, EFD_CLOEXEC);
    if (brokenSignal < 0) return;
    XSetIOErrorHandler(OnBrokenConnection);
    const std::string name = gdk_display_get_name(display);
    xcb_connection_t* connection = xcb_connect(name.c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        // Still told of a broken connection; a stopped server goes unseen.
        xcb_disconnect(connection);
        connection = nullptr;
    }
    std::thread(Watch, connection, "DISPLAY=" + name, std::move(lost)).detach();
}

}  // namespace emu
