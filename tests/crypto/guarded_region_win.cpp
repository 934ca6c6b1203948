#include "crypto/guarded_region.h"

#include <windows.h>

#include <algorithm>

GuardedRegion::GuardedRegion(size_t capacity) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    data_pages_ = std::max<size_t>(1, (capacity + page_ - 1) / page_);
    base_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, (data_pages_ + 1) * page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    guard_ok_ = base_ && VirtualProtect(base_ + data_pages_ * page_, page_, PAGE_NOACCESS, &old);
}

GuardedRegion::~GuardedRegion() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}
