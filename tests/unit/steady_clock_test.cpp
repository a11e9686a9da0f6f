// The real clock's sleeps: the schedule relies on a wake-up never coming before its time,
// also when a signal interrupts the sleep.
#include "steady_clock.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

namespace morvelta {
namespace {

constexpr std::uint64_t ms = 1'000'000;

TEST(SteadyClock, NoSleepEndsBeforeItsTimeEvenWhenSignalsInterruptIt) {
    // A handler (not the default action) makes the signal interrupt the sleep.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t sleeper = ::pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done) {
            ::pthread_kill(sleeper, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::microseconds(700));
        }
    });

    SteadyClock clock;
    for (std::uint64_t i = 0; i < 40; ++i) {
        const std::uint64_t length = (1 + i % 3) * ms + i * 1000;
        const std::uint64_t start = clock.now();
        clock.sleep(length);
        EXPECT_GE(clock.now() - start, length) << "sleep " << i;
    }

    done = true;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace morvelta
