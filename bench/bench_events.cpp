// Drives the event schedule with the real clock and a window that draws nothing, for
// ten seconds, and reports the rates of render, after-render and update events and
// the CPU time the schedule itself takes. Beside each rate stands the schedule's own
// ideal: the same schedule on a clock whose sleeps last exactly as long as asked.
#include <sys/resource.h>

#include <cstdio>
#include <memory>

#include "events.hpp"
#include "steady_clock.hpp"

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

// Time that passes only by sleeping, and exactly as long as asked.
class ExactClock final : public Clock {
  public:
    std::uint64_t now() override { return now_; }
    void sleep(std::uint64_t ns) override { now_ += ns; }

  private:
    std::uint64_t now_ = 0;
};

struct Counts {
    double seconds = 0;
    long renders = 0, after_renders = 0, updates = 0, idles = 0, inputs = 0;
    // From the first render to the last: the mean gap between renders, as a rate.
    std::uint64_t first_render = 0, last_render = 0;
    double per_second(long count) const { return static_cast<double>(count) / seconds; }
    double render_rate() const {
        return static_cast<double>(renders - 1) / seconds_of(last_render - first_render);
    }
};

// Runs the schedule on `clock` for `run_ns` of its time.
Counts run_schedule(std::unique_ptr<Clock> clock) {
    Clock& time = *clock;
    StillWindow window;
    Events events(EventSettings{}, std::move(clock));
    Counts counts;
    const std::uint64_t start = time.now();
    std::uint64_t now = start;
    while (now - start < run_ns) {
        std::optional<Event> event = events.next(window);
        if (!event)
            break;
        if (event->render_args() != nullptr) {
            counts.last_render = time.now();
            if (counts.renders++ == 0)
                counts.first_render = counts.last_render;
        }
        counts.after_renders += event->is_after_render();
        counts.updates += event->update_args() != nullptr;
        counts.idles += event->idle_args() != nullptr;
        counts.inputs += event->input() != nullptr;
        now = time.now();
    }
    counts.seconds = seconds_of(now - start);
    return counts;
}

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void print_rate(const char* name, double rate, double ideal_rate) {
    std::printf("%-13s %8.2f /s   ideal %8.2f /s   %7.2f %% of ideal\n", name, rate, ideal_rate,
                100.0 * rate / ideal_rate);
}

}  // namespace

int main() {
    const Counts exact = run_schedule(std::make_unique<ExactClock>());
    const double cpu_start = cpu_seconds();
    const Counts real = run_schedule(std::make_unique<SteadyClock>());
    const double cpu = cpu_seconds() - cpu_start;
    std::printf("schedule over %.3f s of wall time (targets: 60 renders, 120 updates a second)\n",
                real.seconds);
    print_rate("render", real.render_rate(), exact.render_rate());
    print_rate("after-render", real.per_second(real.after_renders),
               exact.per_second(exact.after_renders));
    print_rate("update", real.per_second(real.updates), exact.per_second(exact.updates));
    print_rate("idle", real.per_second(real.idles), exact.per_second(exact.idles));
    std::printf("cpu           %8.3f %% of one core (%.4f s)\n", 100.0 * cpu / real.seconds, cpu);
    return 0;
}
