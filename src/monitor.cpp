// Monitor query over SDL's displays.
#include "monitor.hpp"

#include <SDL.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "display_connection.hpp"

namespace morvelta {

void prepare_sdl_video() {
    // Without a runtime folder no Wayland connection is possible, and trying one makes
    // libwayland print to standard error, where only failure reports belong.
    if (std::getenv("SDL_VIDEODRIVER") == nullptr && std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,KMSDRM");
    }
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Before SDL opens the display, so that Xlib's exiting handlers never serve it.
    watch_display_server();
    // A full-screen show stays up when another window takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
}

bool is_invisible_video_driver(const char* name) {
    if (name == nullptr)
        return true;
    const std::string_view driver(name);
    return driver == "offscreen" || driver == "dummy" || driver == "evdev";
}

MonitorEventsLoop::MonitorEventsLoop() {
    prepare_sdl_video();
    video_ = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

MonitorEventsLoop::~MonitorEventsLoop() {
    if (video_)
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

MonitorRecord get_primary_monitor(MonitorEventsLoop& events_loop) {
    std::vector<MonitorRecord> monitors;
    if (events_loop.has_video() && !is_invisible_video_driver(SDL_GetCurrentVideoDriver())) {
        const int count = SDL_GetNumVideoDisplays();
        for (int index = 0; index < count; ++index) {
            SDL_Rect bounds{};
            // A display whose bounds cannot be read is left out.
            if (SDL_GetDisplayBounds(index, &bounds) != 0 || bounds.w < 0 || bounds.h < 0)
                continue;
            const char* name = SDL_GetDisplayName(index);
            monitors.push_back(MonitorRecord{index, name != nullptr ? name : "", bounds.x, bounds.y,
                                             static_cast<std::uint32_t>(bounds.w),
                                             static_cast<std::uint32_t>(bounds.h), 1.0f,
                                             index == primary_display_index});
        }
    }
    for (MonitorRecord& monitor : monitors) {
        if (monitor.primary)
            return std::move(monitor);
    }
    panic("Failed to find the primary monitor", primary_monitor_pos);
}

}  // namespace morvelta
