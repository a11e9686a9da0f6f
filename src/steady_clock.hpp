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
};

}  // namespace morvelta
