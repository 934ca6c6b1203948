// A blob in memory for the engine's tests (native and under Wine): reads can be made to deliver
// fewer bytes than asked or to fail after some bytes, writes to fail as on a full disk.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/blob_port.h"
#include "base/buffer.h"
#include "test_bytes.h"

namespace ombrix::testing_blobs {

class MemoryPort final : public BlobPort {
public:
    using Bytes = test::Bytes;

    explicit MemoryPort(Bytes content = {}, size_t max_read = SIZE_MAX) : data(std::move(content)), max_read(max_read) {}

    Status Read(uint32_t count, Buffer& into) override {
        if (delivered >= fail_reads_after) return Status::Failure(static_cast<int32_t>(0x8007001E));  // read fault
        const size_t n = std::min<size_t>({count, max_read, data.size() - position});
        into.Append(data.data() + position, static_cast<uint32_t>(n));
        position += n;
        delivered += n;
        return Status::Ok();
    }
    Status Write(const uint8_t* bytes, uint32_t count) override {
        if (fail_writes) return Status::Failure(static_cast<int32_t>(0x80070070));  // disk full
        data.resize(std::max(data.size(), position + count));
        if (count) memcpy(data.data() + position, bytes, count);
        position += count;
        writes.push_back(count);
        return Status::Ok();
    }
    Status Seek(int64_t offset, int32_t origin, uint64_t* new_position) override {
        const int64_t base = origin == kSeekStart     ? 0
                             : origin == kSeekCurrent ? static_cast<int64_t>(position)
                                                      : static_cast<int64_t>(data.size());
        position = static_cast<size_t>(std::clamp<int64_t>(base + offset, 0, static_cast<int64_t>(data.size())));
        if (new_position) *new_position = position;
        return Status::Ok();
    }
    Status SetSize(uint64_t size) override {
        data.resize(size);
        position = std::min<size_t>(position, data.size());
        return Status::Ok();
    }
    // With `views`, the port also lends its bytes as a memory blob does; a commit counts as a write.
    const uint8_t* ReadView(uint32_t count, uint32_t* available) override {
        *available = views ? static_cast<uint32_t>(std::min<size_t>(count, data.size() - position)) : 0;
        return views ? data.data() + position : nullptr;
    }
    void ReadAdvance(uint32_t count) override {
        position += count;
        delivered += count;
    }
    uint8_t* WriteSpace(uint32_t count) override {
        space.assign(count, 0xEE);
        return views ? space.data() : nullptr;
    }
    void WriteCommit(uint32_t count) override { Write(space.data(), count); }
    void Unwrite(uint32_t count) override {
        data.resize(data.size() - count);
        position = std::min<size_t>(position, data.size());
    }

    Bytes data;
    size_t position = 0;
    size_t max_read;
    size_t delivered = 0;
    size_t fail_reads_after = SIZE_MAX;
    bool fail_writes = false;
    std::vector<uint32_t> writes;
    bool views = false;
    Bytes space;
};

}  // namespace ombrix::testing_blobs
