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
    // Returns `ns` after the call: never earlier, and as little later as the system allows.
    void sleep(std::uint64_t ns) override;
    // How long before a sleep's end the kernel is asked to wake the thread, learnt from
    // the wake-ups so far.
    std::uint64_t wake_margin() const { return wake_margin_; }

  private:
    std::uint64_t wake_margin_ = 0;
};

}  // namespace morvelta
