// Linux's CLOCK_MONOTONIC. A thread asleep is woken late: by up to 50 µs of timer slack
// by default, so that wake-ups can be batched, and then by the time the scheduler takes
// to run it, tens of microseconds, a hundred and more on a virtual machine whose
// processor was idle. The schedule sleeps about three times per render, so each late
// wake-up delays every following frame. The whole wait is still spent asleep: a thread
// that wakes early to spin or yield through the last stretch is the one a busy machine's
// scheduler sends to the back, while a thread waking from sleep is let in ahead of the
// busy ones.
#include "steady_clock.hpp"

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace morvelta {
namespace {

constexpr std::uint64_t ns_per_second = 1'000'000'000;
// A wake-up later than this is a one-off (the machine was busy), not the usual delay.
constexpr std::uint64_t longest_usual_delay = 500'000;
// The margin falls quickly towards a shorter delay, which cost a second sleep, and rises
// slowly towards a longer one, so that it stays near the shortest usual delay.
constexpr std::uint64_t margin_fall = 4;
constexpr std::uint64_t margin_rise = 32;

// An absolute wake-up time stays right when a signal interrupts the sleep.
void sleep_until(std::uint64_t ns) {
    const timespec wake_at{static_cast<std::time_t>(ns / ns_per_second),
                           static_cast<long>(ns % ns_per_second)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake_at, nullptr) == EINTR) {
    }
}

}  // namespace

SteadyClock::SteadyClock() {
    // The least slack there is: a sleep is never batched with later wake-ups.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

std::uint64_t SteadyClock::now() {
    timespec time{};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return static_cast<std::uint64_t>(time.tv_sec) * ns_per_second +
           static_cast<std::uint64_t>(time.tv_nsec);
}

// The kernel is asked to wake the thread the margin before the deadline, so that the
// usual delay brings it close to the deadline instead of past it. A wake-up that still
// comes early sleeps again until the deadline: two sleeps at most, and never a wait on
// the processor.
void SteadyClock::sleep(std::uint64_t ns) {
    const std::uint64_t deadline = now() + ns;
    const std::uint64_t wake = deadline - std::min(wake_margin_, ns);
    sleep_until(wake);
    const std::uint64_t woke = now();
    const std::uint64_t delay = std::min(woke > wake ? woke - wake : 0, longest_usual_delay);
    if (delay < wake_margin_)
        wake_margin_ -= (wake_margin_ - delay) / margin_fall;
    else
        wake_margin_ += (delay - wake_margin_) / margin_rise;
    if (woke < deadline)
        sleep_until(deadline);
}

}  // namespace morvelta
