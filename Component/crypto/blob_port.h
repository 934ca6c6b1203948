// How the engine reaches a blob: a plain C++ interface that the COM layer adapts to
// IBlob/IBlob64, and the small helpers the passes and the control share.
#pragma once

#include <cstdint>

#include "base/buffer.h"
#include "base/status.h"

namespace ombrix {

// Seek origins.
inline constexpr int32_t kSeekStart = 0;
inline constexpr int32_t kSeekCurrent = 1;
inline constexpr int32_t kSeekEnd = 2;

// One blob as the engine sees it. Every call returns Ok, the blob's failing HRESULT as a
// Status::Failure, or Status::Code(8) when memory for the call's array is lacking; a blob's
// success codes count as Ok.
class BlobPort {
public:
    virtual ~BlobPort() = default;

    // Reads up to `count` bytes from the current position and appends them to `into`;
    // fewer (0 at the end) is not a failure.
    virtual Status Read(uint32_t count, Buffer& into) = 0;
    // Writes `count` bytes at the current position.
    virtual Status Write(const uint8_t* bytes, uint32_t count) = 0;
    // Moves the position; `position` (when not null) receives the new one, 0 when the blob
    // reports none. 64-bit when the blob offers it, else through the 32-bit interface.
    virtual Status Seek(int64_t offset, int32_t origin, uint64_t* position) = 0;
    virtual Status SetSize(uint64_t size) = 0;
    // A hint that about `additional` more bytes are coming, so that a blob in memory can make
    // room once instead of growing step by step. Changes nothing a caller can see.
    virtual void ExpectWrites(uint64_t additional) {}

    // Borrowed access, offered by a blob whose bytes live in this process (the memory blob), so
    // that a pass works on the blob's own storage instead of copies. A pointer handed out stays
    // valid only until the next call on this port or on the blob, so it is asked for anew each
    // time and never kept across an event.
    //
    // Up to `count` bytes from the current position, `available` of them; null when the blob
    // offers no view (then Read is the way).
    virtual const uint8_t* ReadView(uint32_t count, uint32_t* available) {
        *available = 0;
        return nullptr;
    }
    // Moves the position past `count` bytes of the last view.
    virtual void ReadAdvance(uint32_t count) {}
    // Room for `count` bytes where the next write goes; null when the blob offers none. Nothing
    // is written until WriteCommit keeps the first `count` bytes of it.
    virtual uint8_t* WriteSpace(uint32_t count) { return nullptr; }
    virtual void WriteCommit(uint32_t count) {}
    // Takes back the last `count` bytes written, where the blob offers write space.
    virtual void Unwrite(uint32_t count) {}
};

// The size of the blob into *size; the blob is left at its start. False when a seek fails.
bool MeasureFromStart(BlobPort& blob, uint64_t* size);
// The size of the blob; the blob is left at its start. 0 when a seek fails.
uint64_t BlobSizeFromStart(BlobPort& blob);
// The bytes from the current position to the end; the position is kept. 0 when a seek fails.
uint64_t BlobRemainingSize(BlobPort& blob);

}  // namespace ombrix
