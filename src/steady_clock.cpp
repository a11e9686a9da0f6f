// Linux's CLOCK_MONOTONIC. A thread asleep is woken late: by up to 50 µs of timer slack
// by default, so that wake-ups can be batched, and then by the time the scheduler takes
// to run it, tens of microseconds, more on a busy or virtual machine. The schedule
// sleeps about three times per render, so each late wake-up delays every following
// frame. Even so the whole wait is spent asleep: a thread that wakes early to spin or
// yield through the last stretch is the one a busy machine's scheduler sends to the
// back, while a thread waking from sleep is let in ahead of the busy ones.
#include "steady_clock.hpp"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

namespace morvelta {
namespace {

constexpr std::uint64_t ns_per_second = 1'000'000'000;

timespec timespec_of(std::uint64_t ns) {
    return timespec{static_cast<std::time_t>(ns / ns_per_second),
                    static_cast<long>(ns % ns_per_second)};
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

// An absolute wake-up time stays right when a signal interrupts the sleep.
void SteadyClock::sleep(std::uint64_t ns) {
    const timespec wake_at = timespec_of(now() + ns);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake_at, nullptr) == EINTR) {
    }
}

}  // namespace morvelta
