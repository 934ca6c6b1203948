// Shared pieces of the libFuzzer targets: reading settings from the front of the input, a blob
// in memory, and the check that turns a broken property into a finding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "crypto/blob_port.h"
#include "crypto/buffer.h"

// A property that failed: print it and abort, so that libFuzzer saves the reproducer.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                       \
        }                                                                                  \
    } while (0)

namespace ombrix::fuzz {

using Bytes = std::vector<uint8_t>;

// The input, consumed from the front: settings first, the payload is what remains.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t Byte() { return used_ < size_ ? data_[used_++] : 0; }
    uint32_t Word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return value;
    }
    Bytes Take(size_t count) {
        count = std::min(count, size_ - used_);
        Bytes out(data_ + used_, data_ + used_ + count);
        used_ += count;
        return out;
    }
    const uint8_t* Rest() const { return data_ + used_; }
    size_t RestSize() const { return size_ - used_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// A blob in memory; `max_read` makes reads deliver fewer bytes than asked.
class MemoryPort final : public BlobPort {
public:
    explicit MemoryPort(Bytes content = {}, uint32_t max_read = UINT32_MAX) : data(std::move(content)), max_read_(max_read) {}
    int32_t Read(uint32_t count, Buffer& into) override {
        const size_t n = std::min<size_t>({count, max_read_, data.size() - position});
        if (n && !into.Append(data.data() + position, static_cast<uint32_t>(n))) return 8;
        position += n;
        return 0;
    }
    int32_t Write(const uint8_t* bytes, uint32_t count) override {
        if (data.size() < position + count) data.resize(position + count);
        if (count) memcpy(data.data() + position, bytes, count);
        position += count;
        return 0;
    }
    int32_t Seek(int64_t offset, int32_t origin, uint64_t* new_position) override {
        const int64_t base = origin == kSeekStart     ? 0
                             : origin == kSeekCurrent ? static_cast<int64_t>(position)
                                                      : static_cast<int64_t>(data.size());
        position = static_cast<size_t>(std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(data.size())));
        if (new_position) *new_position = position;
        return 0;
    }
    int32_t SetSize(uint64_t size) override {
        data.resize(size);
        position = std::min<size_t>(position, data.size());
        return 0;
    }

    Bytes data;
    size_t position = 0;

private:
    size_t max_read_;
};

inline Bytes BufferBytes(const Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Length()); }

}  // namespace ombrix::fuzz
