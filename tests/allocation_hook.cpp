#include "allocation_hook.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_countdown{0};
std::atomic<bool> g_failed{false};
std::atomic<size_t> g_largest{0};

}  // namespace

namespace test {

void FailAllocation(long nth) {
    g_failed = false;
    g_countdown = nth;
}

bool AllocationFailed() { return g_failed; }

size_t LargestAllocation() { return g_largest; }
void ResetLargestAllocation() { g_largest = 0; }

}  // namespace test

// The array and nothrow forms of the library forward to these two.
void* operator new(std::size_t size) {
    size_t largest = g_largest.load();
    while (size > largest && !g_largest.compare_exchange_weak(largest, size)) {
    }
    if (g_countdown.load() > 0 && --g_countdown == 0) {
        g_failed = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
