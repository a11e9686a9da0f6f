#include "display_connection.hpp"

#include <SDL.h>
#include <SDL_syswm.h>

#ifdef MORVELTA_X11_EXIT_HANDLER
#include <X11/Xlib.h>
#endif

namespace morvelta {
namespace {

// Set on the main thread by Xlib's handlers, read there by the event poll.
std::optional<std::string>& loss() {
    static std::optional<std::string> text;
    return text;
}

// The first request the server refused, as Xlib's own report names it.
std::optional<std::string>& refusal() {
    static std::optional<std::string> text;
    return text;
}

#ifdef MORVELTA_X11_EXIT_HANDLER
int on_io_error(Display* display) {
    if (!loss()) {
        loss() = "X connection to " + std::string(DisplayString(display)) +
                 " broken (explicit kill or server shutdown).";
    }
    return 0;
}

// Returning, instead of exiting, leaves the connection dead but the process running.
void on_io_error_exit(Display*, void*) {}

// Xlib's default prints the error and exits. A server going away refuses requests on
// windows it has already freed, and a window destroyed by another client does too: the
// show must stop with a report either way, not from inside Xlib.
int on_protocol_error(Display* display, XErrorEvent* error) {
    if (!refusal()) {
        char text[256] = {};
        XGetErrorText(display, error->error_code, text, sizeof text);
        refusal() = "X Error of failed request:  " + std::string(text);
    }
    return 0;
}

Display* watched_display = nullptr;
#endif

}  // namespace

void watch_display_connection([[maybe_unused]] SDL_Window* window) {
#ifdef MORVELTA_X11_EXIT_HANDLER
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11)
        return;
    watched_display = info.info.x11.display;
    XSetIOErrorHandler(on_io_error);
    XSetIOErrorExitHandler(watched_display, on_io_error_exit, nullptr);
    XSetErrorHandler(on_protocol_error);
#endif
}

std::optional<std::string> lost_display_connection() {
    return loss();
}

void await_display_answers() {
#ifdef MORVELTA_X11_EXIT_HANDLER
    if (watched_display != nullptr && !loss())
        XSync(watched_display, False);
#endif
}

std::optional<std::string> display_failure() {
#ifdef MORVELTA_X11_EXIT_HANDLER
    // A refusal from a server that is shutting down comes before its connection closes.
    // A round trip tells the two apart: a dying server closes instead of answering.
    if (refusal() && !loss() && watched_display != nullptr)
        XSync(watched_display, False);
#endif
    return loss() ? loss() : refusal();
}

}  // namespace morvelta
