// Drives the event schedule with the real clock and a window that draws nothing, for
// ten seconds, and reports the rates of render, after-render and update events and
// the CPU time the schedule itself takes.
#include <sys/resource.h>

#include <cstdio>
#include <memory>

#include "events.hpp"

namespace {

using namespace morvelta;

constexpr std::uint64_t run_ns = 10'000'000'000;

class StillWindow final : public EventWindow {
  public:
    std::optional<Input> poll_input() override { return std::nullopt; }
    bool should_close() const override { return false; }
    PixelSize window_size() const override { return {1920, 1080}; }
    PixelSize drawable_size() const override { return {1920, 1080}; }
    void swap_buffers() override {}
};

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main() {
    SteadyClock clock;
    StillWindow window;
    Events events(EventSettings{}, std::make_unique<SteadyClock>());
    long renders = 0, after_renders = 0, updates = 0, idles = 0, inputs = 0;
    const double cpu_start = cpu_seconds();
    const std::uint64_t start = clock.now();
    std::uint64_t now = start;
    while (now - start < run_ns) {
        std::optional<Event> event = events.next(window);
        if (!event)
            break;
        if (event->render_args() != nullptr)
            ++renders;
        if (event->is_after_render())
            ++after_renders;
        if (event->update_args() != nullptr)
            ++updates;
        if (event->idle_args() != nullptr)
            ++idles;
        if (event->input() != nullptr)
            ++inputs;
        now = clock.now();
    }
    const double wall = seconds_of(now - start);
    const double cpu = cpu_seconds() - cpu_start;
    std::printf("schedule over %.3f s of wall time\n", wall);
    std::printf("render        %8.2f /s (target 60)\n", renders / wall);
    std::printf("after-render  %8.2f /s (target 60)\n", after_renders / wall);
    std::printf("update        %8.2f /s (target 120)\n", updates / wall);
    std::printf("idle          %8.2f /s\n", idles / wall);
    std::printf("cpu           %8.3f %% of one core (%.4f s)\n", 100.0 * cpu / wall, cpu);
    return 0;
}
