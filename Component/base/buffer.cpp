#include "base/buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/byte_order.h"

namespace ombrix {

// memset at full speed; the empty asm that may read the memory keeps the compiler from
// dropping the stores as dead.
void SecureZero(void* memory, uint64_t size) {
    if (!memory || size == 0) return;
    memset(memory, 0, static_cast<size_t>(size));
    __asm__ __volatile__("" : : "r"(memory) : "memory");
}

Buffer::Buffer() : capacity_(kInitialCapacity), array_(new uint8_t[kInitialCapacity]()) {}

Buffer::~Buffer() {
    SecureZero(array_, capacity_);
    delete[] array_;
}

uint8_t* Buffer::AppendSpace(uint32_t n) {
    if (read_ == end_) read_ = end_ = 0;
    while (static_cast<uint64_t>(end_) + n >= capacity_) {
        if (read_ <= capacity_ / 2) {
            // At least the slack beyond the request, and at least half the capacity again, so
            // that a buffer filled by many appends is copied a bounded number of times.
            uint64_t grown = static_cast<uint64_t>(capacity_) + std::max<uint64_t>(uint64_t{n} + kGrowthSlack, capacity_ / 2);
            if (grown > UINT32_MAX) grown = static_cast<uint64_t>(capacity_) + n + kGrowthSlack;
            if (grown > UINT32_MAX) return nullptr;
            auto* bigger = new (std::nothrow) uint8_t[grown]();
            if (!bigger) return nullptr;
            memcpy(bigger, array_, end_);
            SecureZero(array_, capacity_);
            delete[] array_;
            array_ = bigger;
            capacity_ = static_cast<uint32_t>(grown);
        } else {
            memmove(array_, array_ + read_, end_ - read_);
            end_ -= read_;
            read_ = 0;
        }
    }
    uint8_t* space = array_ + end_;
    end_ += n;
    return space;
}

bool Buffer::Append(const void* bytes, uint32_t n) {
    if (n == UINT32_MAX) return false;
    uint8_t* space = AppendSpace(n + 1);
    if (!space) return false;
    if (n) memcpy(space, bytes, n);
    space[n] = 0;
    end_ -= 1;
    return true;
}

bool Buffer::GetBytes(void* destination, uint32_t n) {
    if (n > Length()) return false;
    if (n) memcpy(destination, Data(), n);
    read_ += n;
    return true;
}

uint8_t Buffer::GetChar() {
    uint8_t value = 0;
    GetBytes(&value, 1);
    return value;
}

uint32_t Buffer::GetInt() {
    uint8_t bytes[4] = {};
    GetBytes(bytes, 4);
    return LoadBigEndian32(bytes);
}

uint8_t* Buffer::GetString(uint32_t* length) {
    if (length) *length = 0;
    if (Length() < 4) return nullptr;
    const uint32_t n = GetInt();
    if (n > kMaxStringLength || n > Length()) return nullptr;
    auto* bytes = new (std::nothrow) uint8_t[n + 1];
    if (!bytes) return nullptr;
    GetBytes(bytes, n);
    bytes[n] = 0;
    if (length) *length = n;
    return bytes;
}

char* Buffer::GetLine() {
    if (Length() == 0) return nullptr;
    auto* start = reinterpret_cast<char*>(Data());
    auto* feed = static_cast<char*>(memchr(start, '\n', Length()));
    if (!feed) return nullptr;
    Consume(static_cast<uint32_t>(feed - start) + 1);
    char* ending = (feed > start && feed[-1] == '\r') ? feed - 1 : feed;
    *ending = '\0';
    return start;
}

bool Buffer::PutInt(uint32_t value) {
    uint8_t bytes[4];
    StoreBigEndian32(bytes, value);
    return Append(bytes, 4);
}

bool Buffer::PutString(const void* bytes, uint32_t n) { return PutInt(n) && Append(bytes, n); }

bool Buffer::PutCString(const char* text) { return PutString(text, static_cast<uint32_t>(strlen(text))); }

}  // namespace ombrix
