// Counts heap allocations made through operator new, for the benchmarks that must
// show a path allocates nothing. Linking this replaces the global operator new.
#pragma once

namespace morvelta::bench {

// Allocations made by every thread of the process so far.
long process_allocations();

// Allocations made by the calling thread so far.
long thread_allocations();

}  // namespace morvelta::bench
