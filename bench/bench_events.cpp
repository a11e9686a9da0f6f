// Drives the event schedule with the real clock and a window that draws nothing, for
// ten seconds on a quiet machine and then ten seconds with one busy thread per processor,
// and reports side by side the rates of render, after-render and update events, how late
// the clock's sleeps end, and the schedule thread's CPU time and context switches. Beside
// each rate stands the schedule's own ideal: the same schedule on a clock whose sleeps
// last exactly as long as asked.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "events.hpp"
#include "steady_clock.hpp"

namespace {

using namespace morvelta;

constexpr std::uint64_t run_ns = 10'000'000'000;
// Lets the busy threads get going before the schedule starts.
constexpr auto busy_warm_up = std::chrono::milliseconds(200);
constexpr double ns_per_us = 1e3;

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

// The real clock, noting how long after its asked-for end each sleep returned.
class LatenessClock final : public Clock {
  public:
    explicit LatenessClock(std::vector<std::uint64_t>& lateness) : lateness_(lateness) {}
    std::uint64_t now() override { return clock_.now(); }
    void sleep(std::uint64_t ns) override {
        const std::uint64_t end = clock_.now() + ns;
        clock_.sleep(ns);
        const std::uint64_t woke = clock_.now();
        lateness_.push_back(woke > end ? woke - end : 0);
    }

  private:
    SteadyClock clock_;
    std::vector<std::uint64_t>& lateness_;
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

// The calling thread's own use of the machine: the busy threads must not count.
struct ThreadUsage {
    double cpu_seconds = 0;
    long voluntary_switches = 0, involuntary_switches = 0;
};

ThreadUsage thread_usage() {
    timespec cpu{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return {static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) / 1e9,
            usage.ru_nvcsw, usage.ru_nivcsw};
}

struct Phase {
    Counts counts;
    ThreadUsage usage;
    double median_lateness_us = 0, p99_lateness_us = 0, mean_lateness_us = 0;
};

Phase run_phase() {
    std::vector<std::uint64_t> lateness;
    lateness.reserve(run_ns / 1'000'000);
    const ThreadUsage before = thread_usage();
    Phase phase;
    phase.counts = run_schedule(std::make_unique<LatenessClock>(lateness));
    const ThreadUsage after = thread_usage();
    phase.usage = {after.cpu_seconds - before.cpu_seconds,
                   after.voluntary_switches - before.voluntary_switches,
                   after.involuntary_switches - before.involuntary_switches};
    if (!lateness.empty()) {
        std::sort(lateness.begin(), lateness.end());
        double sum = 0;
        for (std::uint64_t ns : lateness)
            sum += static_cast<double>(ns);
        phase.mean_lateness_us = sum / static_cast<double>(lateness.size()) / ns_per_us;
        phase.median_lateness_us = static_cast<double>(lateness[lateness.size() / 2]) / ns_per_us;
        phase.p99_lateness_us =
            static_cast<double>(lateness[lateness.size() * 99 / 100]) / ns_per_us;
    }
    return phase;
}

// One thread per processor that never sleeps, at the schedule's own priority, for as
// long as the object lives.
class BusyThreads {
  public:
    explicit BusyThreads(unsigned count) {
        for (unsigned i = 0; i < count; ++i)
            threads_.emplace_back([this] {
                volatile std::uint64_t spins = 0;
                while (!stop_.load(std::memory_order_relaxed))
                    spins = spins + 1;
            });
        std::this_thread::sleep_for(busy_warm_up);
    }
    ~BusyThreads() {
        stop_ = true;
        for (std::thread& thread : threads_)
            thread.join();
    }
    BusyThreads(const BusyThreads&) = delete;
    BusyThreads& operator=(const BusyThreads&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

void print_rate(const char* name, double ideal, double quiet, double busy) {
    std::printf("%-22s %8.2f   %8.2f %7.2f %%   %8.2f %7.2f %%\n", name, ideal, quiet,
                100.0 * quiet / ideal, busy, 100.0 * busy / ideal);
}

void print_row(const char* name, double quiet, double busy) {
    std::printf("%-22s %8s   %8.2f %9s   %8.2f\n", name, "", quiet, "", busy);
}

}  // namespace

int main() {
    const Counts exact = run_schedule(std::make_unique<ExactClock>());
    const Phase quiet = run_phase();
    const unsigned processors = std::max(1U, std::thread::hardware_concurrency());
    Phase busy;
    {
        const BusyThreads threads(processors);
        busy = run_phase();
    }

    const Counts& q = quiet.counts;
    const Counts& b = busy.counts;
    std::printf(
        "schedule over %.3f s quiet, then %.3f s beside %u busy threads "
        "(targets: 60 renders, 120 updates a second)\n",
        q.seconds, b.seconds, processors);
    std::printf("%-22s %8s   %18s   %18s\n", "", "ideal", "quiet", "busy");
    print_rate("render /s", exact.render_rate(), q.render_rate(), b.render_rate());
    print_rate("after-render /s", exact.per_second(exact.after_renders),
               q.per_second(q.after_renders), b.per_second(b.after_renders));
    print_rate("update /s", exact.per_second(exact.updates), q.per_second(q.updates),
               b.per_second(b.updates));
    print_rate("idle /s", exact.per_second(exact.idles), q.per_second(q.idles),
               b.per_second(b.idles));
    print_row("sleep late, median us", quiet.median_lateness_us, busy.median_lateness_us);
    print_row("sleep late, 99th % us", quiet.p99_lateness_us, busy.p99_lateness_us);
    print_row("sleep late, mean us", quiet.mean_lateness_us, busy.mean_lateness_us);
    print_row("cpu ms per s of show", 1e3 * quiet.usage.cpu_seconds / q.seconds,
              1e3 * busy.usage.cpu_seconds / b.seconds);
    print_row("voluntary switches /s", q.per_second(quiet.usage.voluntary_switches),
              b.per_second(busy.usage.voluntary_switches));
    print_row("forced switches /s", q.per_second(quiet.usage.involuntary_switches),
              b.per_second(busy.usage.involuntary_switches));
    return 0;
}
