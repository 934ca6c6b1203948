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
#include "base/buffer.h"
#include "../memory_port.h"
#include "../test_bytes.h"

// A property that failed: print it and abort, so that libFuzzer saves the reproducer.
#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                       \
        }                                                                                  \
    } while (0)

namespace ombrix::fuzz {

using test::Bytes;
using testing_blobs::MemoryPort;

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


inline Bytes BufferBytes(const Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Length()); }

}  // namespace ombrix::fuzz
