#include "display_connection.hpp"

#include <SDL.h>
#include <SDL_syswm.h>

#ifdef MORVELTA_X11
#include <X11/Xlib.h>
#endif

namespace morvelta {
namespace {

#ifdef MORVELTA_X11
// Set by the error handler, on the main thread (the only one that talks to the server),
// and read there by the event poll.
struct Refusal {
    Display* display = nullptr;
    std::optional<std::string> text;
};

Refusal& refusal() {
    static Refusal first;
    return first;
}

// Called by Xlib when the connection breaks, from whichever of its calls noticed.
int on_lost_connection(Display* display) {
    stop_now("X connection to " + std::string(DisplayString(display)) +
                 " broken (explicit kill or server shutdown).",
             display_lost_pos);
}

// A server going away refuses requests on windows it has already freed, and a window
// destroyed by another client is refused too: the show stops with a report either way,
// from the poll, not from inside Xlib.
int on_refused_request(Display* display, XErrorEvent* error) {
    Refusal& first = refusal();
    if (!first.text) {
        char text[256] = {};
        XGetErrorText(display, error->error_code, text, sizeof text);
        first.display = display;
        first.text = "X Error of failed request:  " + std::string(text);
    }
    return 0;
}
#endif

}  // namespace

void watch_display_server() {
#ifdef MORVELTA_X11
    static const bool watched = [] {
        XSetIOErrorHandler(on_lost_connection);
        XSetErrorHandler(on_refused_request);
        return true;
    }();
    (void)watched;
#endif
}

std::optional<std::string> display_failure() {
#ifdef MORVELTA_X11
    const Refusal& first = refusal();
    // A dying server closes the connection instead of answering the round trip.
    if (first.text)
        XSync(first.display, False);
    return first.text;
#else
    return std::nullopt;
#endif
}

std::optional<std::string> display_failure_once_answered([[maybe_unused]] SDL_Window* window) {
#ifdef MORVELTA_X11
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11)
        XSync(info.info.x11.display, False);
#endif
    return display_failure();
}

}  // namespace morvelta
