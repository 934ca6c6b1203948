#include "crypto/guarded_region.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

GuardedRegion::GuardedRegion(size_t capacity) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    data_pages_ = std::max<size_t>(1, (capacity + page_ - 1) / page_);
    void* base = mmap(nullptr, (data_pages_ + 1) * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(base);
    guard_ok_ = mprotect(base_ + data_pages_ * page_, page_, PROT_NONE) == 0;
}

GuardedRegion::~GuardedRegion() {
    if (base_) munmap(base_, (data_pages_ + 1) * page_);
}
