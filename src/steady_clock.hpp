// The schedule's clock: the system's monotonic time, and sleeps that end on time.
#pragma once

#include <cstdint>

#include "events.hpp"

namespace morvelta {

// Made on the thread that sleeps with it: the timer settings it makes are that thread's.
class SteadyClock final : public Clock {
  public:
    SteadyClock();
    std::uint64_t now() override;
    // Returns `ns` after the call, never earlier: the kernel wakes the thread at that
    // instant, and it runs again as soon after as the system allows.
    void sleep(std::uint64_t ns) override;

  private:
    // How much earlier than asked the kernel is asked to wake the thread: about the
    // shortest wake-up delay seen lately.
    std::uint64_t wake_margin_ = 0;
};

}  // namespace morvelta
