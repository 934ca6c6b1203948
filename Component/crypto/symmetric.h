// cryptSYMMETRIC: the base of every cipher. It takes the key and runs the two streaming passes
// (read in chunks, compress, pad, chain in ECB/CBC/CFB/OFB through the owner's IV register,
// write in chunks, report progress, honour the abort request); a subclass supplies the key
// schedule, one block in each direction and its sizes. A plain cryptSYMMETRIC is Type None.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "crypto/blob_port.h"
#include "base/buffer.h"
#include "crypto/compression.h"
#include "base/secure_bytes.h"

namespace ombrix {

// What a pass reads from the control that owns it. The control implements it.
class CipherOwner {
public:
    virtual int32_t CipherMode() const = 0;
    virtual int32_t CipherPadding() const = 0;
    virtual int32_t CipherCompression() const = 0;
    // Live chaining state: the passes read and overwrite it in place.
    virtual Buffer& CipherIvRegister() = 0;
    virtual bool DebugLogEnabled() const = 0;
    // Appends one already formatted line to the debug log.
    virtual void DebugLogLine(const char* line) = 0;

protected:
    ~CipherOwner() = default;
};

// The control whose events a pass fires and whose abort request it honours.
class EventControl {
public:
    virtual bool EventsEnabled() const = 0;
    virtual bool AbortRequested() const = 0;
    // Fires Progress (or Progress64). False when a handler destroyed the control: the caller
    // must not touch it again.
    virtual bool FireProgress(uint64_t position, uint64_t total) = 0;

protected:
    ~EventControl() = default;
};

// A 15-bit pseudo-random value (0..32767) from a non-cryptographic generator, for PadRandom
// and the optimized header.
uint32_t NonCryptoRandom();

class cryptSYMMETRIC {
public:
    // Chunk constants of the passes.
    static constexpr uint32_t kChunk = 128000;
    static constexpr uint32_t kMaxWorkingBlock = 1048576;

    cryptSYMMETRIC() = default;
    cryptSYMMETRIC(const cryptSYMMETRIC&) = delete;
    cryptSYMMETRIC& operator=(const cryptSYMMETRIC&) = delete;
    virtual ~cryptSYMMETRIC() = default;

    // Zero-extends a key shorter than the key size, then schedules it. Non-zero when accepted.
    virtual int32_t SetKey(const uint8_t* key, uint32_t length);
    virtual Status EncryptBlob(BlobPort& input, BlobPort& output, bool from_current, EventControl* events);
    virtual Status RawEncrypt(BlobPort& input, BlobPort& output, bool from_current, EventControl* events);
    virtual Status DecryptBlob(BlobPort& input, BlobPort& output, EventControl* events);
    virtual Status RawDecrypt(BlobPort& input, BlobPort& output, uint64_t length_limit, EventControl* events);
    virtual int32_t ScheduleKey(const uint8_t* key, uint32_t length) { return 0; }
    // One working block: `in` holds at least the working length, `out` at least
    // max(2 x working length, 1024) bytes; the two never overlap.
    virtual int32_t EncryptBlock(const uint8_t* in, uint8_t* out) { return 0; }
    virtual int32_t DecryptBlock(const uint8_t* in, uint8_t* out) { return 0; }

    // Batched runs of whole blocks, for ciphers that can do many blocks in one library call.
    // `blocks` blocks from `in` to `out` (distinct) in ECB (chain = false) or CBC (chain = true,
    // `iv` holds one block and receives the chaining value after the run). The result must
    // equal that of the per-block calls exactly. False when the cipher cannot batch this run;
    // the pass then goes block by block.
    virtual bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) { return false; }
    virtual bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) { return false; }

    int32_t KeySize() const { return key_size_; }
    int32_t BlockSize() const { return block_size_; }
    int32_t BlockReserve() const { return block_reserve_; }
    // Why the last SetKey refused its key (an error code of the table), or 0.
    int32_t KeyRefusal() const { return key_refusal_; }
    // False for Type None: without a key schedule the data passes unchanged.
    bool HasKeySchedule() const { return key_schedule_ != nullptr; }

    void SetOwner(CipherOwner* owner) { owner_ = owner; }
    // True when a progress handler destroyed the event control during the last pass.
    bool EventControlGone() const { return event_control_gone_; }

    // True when the last block operation could not process its block (RSA with data that its
    // key does not fit). The block operations' results are not examined: a pass reads this after
    // each block it hands to one and ends with an error instead of writing that block.
    bool BlockFailed() const { return block_failed_; }

    int32_t WorkingLength() const { return working_length_; }
    void SetWorkingLength(int32_t length) { working_length_ = length; }
    int32_t SignificantLength() const { return significant_length_; }
    void SetSignificantLength(int32_t length) { significant_length_ = length; }
    uint32_t GzipReaderState() const { return compression_.GzipReaderState(); }

protected:
    // Allocates the owned, zeroed key schedule; false when memory is lacking.
    bool AllocateKeySchedule(uint32_t size);  // also marks the object as having a cipher
    uint8_t* KeySchedule() const { return key_schedule_memory_.Data(); }
    // Marks a cipher whose state lives in the subclass (the Unix crypt classes).
    void SetExternalKeySchedule(const void* marker) { key_schedule_ = marker; }
    // Set by a block operation that gave no valid output for its block; cleared when it succeeds
    // and at the start of each pass.
    void SetBlockFailed(bool failed) { block_failed_ = failed; }
    // The per-block result for a block the library may fail: 1, with the block marked failed
    // when it did.
    int32_t BlockResult(bool done) {
        if (!done) block_failed_ = true;
        return 1;
    }
    // Set by ScheduleKey when the library refuses the cipher or the key: SetKey then fails.
    void SetKeyRefusal(int32_t code) { key_refusal_ = code; }

    int32_t key_size_ = 0;
    int32_t block_size_ = 0;
    int32_t block_reserve_ = 0;

private:
    friend class EncryptPass;
    friend class DecryptPass;

    int32_t working_length_ = 0;
    CompressionStream compression_;
    int32_t significant_length_ = 0;
    CipherOwner* owner_ = nullptr;
    const void* key_schedule_ = nullptr;  // null: no cipher
    SecureBytes key_schedule_memory_;     // owns the schedule when it is heap memory
    bool event_control_gone_ = false;
    bool block_failed_ = false;
    int32_t key_refusal_ = 0;
};

}  // namespace ombrix
