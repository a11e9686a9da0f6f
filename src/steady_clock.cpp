// Linux's CLOCK_MONOTONIC. A thread asleep is woken late: by up to 50 µs of timer slack
// by default, so that wake-ups can be batched, and then by the time the scheduler takes
// to run it, tens of microseconds, far more on a busy or virtual machine. The schedule
// sleeps twice between renders, so each late wake-up delays every following frame.
#include "steady_clock.hpp"

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <thread>

namespace morvelta {
namespace {

constexpr std::uint64_t ns_per_second = 1'000'000'000;
// A wake-up later than this is a one-off (the machine was busy), not the usual delay.
constexpr std::uint64_t longest_usual_delay = 500'000;
// Each wake-up moves the margin by this share of its difference from the delay seen.
constexpr std::uint64_t margin_smoothing = 8;

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

// The kernel is asked for the wake-up as much earlier as wake-ups have lately come late,
// and the rest is waited out on the processor, giving it up to any other thread that
// wants it. An absolute wake-up time stays right when a signal interrupts the sleep.
void SteadyClock::sleep(std::uint64_t ns) {
    const std::uint64_t deadline = now() + ns;
    if (ns > wake_margin_) {
        const std::uint64_t wake = deadline - wake_margin_;
        const timespec wake_at = timespec_of(wake);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake_at, nullptr) == EINTR) {
        }
        const std::uint64_t woke = now();
        const std::uint64_t delay = std::min(woke > wake ? woke - wake : 0, longest_usual_delay);
        wake_margin_ = wake_margin_ - wake_margin_ / margin_smoothing + delay / margin_smoothing;
    }
    while (now() < deadline)
        std::this_thread::yield();
}

}  // namespace morvelta
