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
#endif

}  // namespace

void watch_display_connection([[maybe_unused]] SDL_Window* window) {
#ifdef MORVELTA_X11_EXIT_HANDLER
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11)
        return;
    XSetIOErrorHandler(on_io_error);
    XSetIOErrorExitHandler(info.info.x11.display, on_io_error_exit, nullptr);
#endif
}

std::optional<std::string> lost_display_connection() {
    return loss();
}

}  // namespace morvelta
