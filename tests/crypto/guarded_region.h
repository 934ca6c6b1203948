// Bytes placed right before a no-access page: reading one byte past them faults.
// guarded_region_win.cpp and guarded_region_posix.cpp reserve the pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class GuardedRegion {
public:
    explicit GuardedRegion(size_t capacity);
    ~GuardedRegion();
    GuardedRegion(const GuardedRegion&) = delete;
    GuardedRegion& operator=(const GuardedRegion&) = delete;

    bool Ok() const { return guard_ok_; }
    size_t Capacity() const { return data_pages_ * page_; }
    const uint8_t* Place(const uint8_t* bytes, size_t n) {
        uint8_t* at = base_ + data_pages_ * page_ - n;
        if (n) memcpy(at, bytes, n);
        return at;
    }

private:
    size_t page_ = 4096;
    size_t data_pages_ = 1;
    uint8_t* base_ = nullptr;
    bool guard_ok_ = false;
};
