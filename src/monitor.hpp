// The primary monitor's size, read once before the window is opened. The query holds
// SDL's video subsystem for as long as main keeps `MonitorEventsLoop`.
#pragma once

#include <cstdint>
#include <string>

#include "failure.hpp"

namespace morvelta {

// SDL's index of the primary display.
inline constexpr int primary_display_index = 0;

// The report place of "Failed to find the primary monitor".
inline constexpr SourcePos primary_monitor_pos{"src\\monitor", 61, 5};

// Holds SDL's video subsystem from construction to destruction. A subsystem that
// cannot start is not a failure here: the monitor query reports it.
class MonitorEventsLoop {
  public:
    MonitorEventsLoop();
    ~MonitorEventsLoop();
    MonitorEventsLoop(const MonitorEventsLoop&) = delete;
    MonitorEventsLoop& operator=(const MonitorEventsLoop&) = delete;

    // Whether a visible video driver is running.
    bool has_video() const { return video_; }

  private:
    bool video_ = false;
};

struct MonitorRecord {
    int display_index;
    std::string name;
    std::int32_t x;
    std::int32_t y;
    std::uint32_t width;
    std::uint32_t height;
    float scale_factor;  // always 1.0
    bool primary;
};

struct ScreenSize {
    std::uint32_t width;
    std::uint32_t height;
};

// The primary monitor, or the failure stop with "Failed to find the primary monitor"
// when there is no display, video cannot start, or only an invisible driver (offscreen,
// dummy) runs.
MonitorRecord get_primary_monitor(MonitorEventsLoop& events_loop);

// Whether the named SDL video driver shows nothing to anybody.
bool is_invisible_video_driver(const char* name);

// Asks SDL, before it starts, to leave process signals and the screen saver alone:
// the program ends on signals as any other program does.
void prepare_sdl_video();

}  // namespace morvelta
