// A test program's replacement of the global operator new: it can make one chosen allocation
// fail with std::bad_alloc and records the largest request. Link allocation_hook.cpp into the
// program; unarmed it only counts.
#pragma once

#include <cstddef>

namespace test {

// The nth allocation from now on (1 = the next one) throws std::bad_alloc; 0 disarms.
void FailAllocation(long nth);
// Whether the armed failure has been thrown since FailAllocation.
bool AllocationFailed();

// The largest request since the last reset.
size_t LargestAllocation();
void ResetLargestAllocation();

}  // namespace test
