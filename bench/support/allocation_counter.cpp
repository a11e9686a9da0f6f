#include "allocation_counter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> process_count{0};
thread_local long thread_count = 0;

// Out of line: GCC's mismatched-new-delete check misreads an inlined malloc that meets
// free through the replaced operator delete.
[[gnu::noinline]] void* counted_allocation(std::size_t size) {
    process_count.fetch_add(1, std::memory_order_relaxed);
    ++thread_count;
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

}  // namespace

namespace morvelta::bench {

long process_allocations() {
    return process_count.load(std::memory_order_relaxed);
}

long thread_allocations() {
    return thread_count;
}

}  // namespace morvelta::bench

void* operator new(std::size_t size) {
    return counted_allocation(size);
}
void* operator new[](std::size_t size) {
    return counted_allocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
