#include "crypto/symmetric.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/error_codes.h"
#include "crypto/algorithm_types.h"

namespace ombrix {

namespace at = algorithm_type;

uint32_t NonCryptoRandom() {
    thread_local std::minstd_rand generator{std::random_device{}()};
    return static_cast<uint32_t>(generator() & 0x7FFF);
}

int32_t cryptSYMMETRIC::SetKey(const uint8_t* key, uint32_t length) {
    key_refusal_ = 0;
    if (length < static_cast<uint32_t>(key_size_)) {
        SecureBytes extended;
        if (!extended.Allocate(static_cast<size_t>(key_size_))) return 0;
        if (length) memcpy(extended.Data(), key, length);
        ScheduleKey(extended.Data(), static_cast<uint32_t>(key_size_));
    } else {
        ScheduleKey(key, length);
    }
    return key_refusal_ ? 0 : 1;
}

bool cryptSYMMETRIC::AllocateKeySchedule(uint32_t size) {
    if (!key_schedule_memory_.Allocate(size)) return false;
    key_schedule_ = key_schedule_memory_.Data();
    return true;
}

Status cryptSYMMETRIC::EncryptBlob(BlobPort& input, BlobPort& output, bool from_current, EventControl* events) {
    return RawEncrypt(input, output, from_current, events);
}

Status cryptSYMMETRIC::DecryptBlob(BlobPort& input, BlobPort& output, EventControl* events) {
    return RawDecrypt(input, output, 0, events);
}

namespace {

// Settings a pass uses when no control owns the object: ECB, PadNull, no compression.
class DetachedOwner final : public CipherOwner {
public:
    int32_t CipherMode() const override { return at::kModeECB; }
    int32_t CipherPadding() const override { return at::kPadNull; }
    int32_t CipherCompression() const override { return at::kNoCompression; }
    Buffer& CipherIvRegister() override { return iv_; }
    bool DebugLogEnabled() const override { return false; }
    void DebugLogLine(const char*) override {}

private:
    Buffer iv_;
};

void LogLength(CipherOwner& owner, const char* label, uint64_t length) {
    if (!owner.DebugLogEnabled()) return;
    char line[64];
    snprintf(line, sizeof line, "%s::len = %" PRIu64 "\r\n", label, length);
    owner.DebugLogLine(line);
}

// The IV register as a pass uses it: at least `needed` bytes of storage from its start. Storage
// past the register's length holds what earlier passes left there, or zeros.
uint8_t* IvStorage(Buffer& iv_register, uint32_t needed) {
    const uint32_t length = iv_register.Length();
    if (needed <= length) return iv_register.Data();
    if (!iv_register.AppendSpace(needed - length)) return nullptr;
    iv_register.ConsumeEnd(needed - length);
    return iv_register.Data();
}

Status WriteAll(BlobPort& output, Buffer& bytes) {
    const Status result = bytes.Length() ? output.Write(bytes.Data(), bytes.Length()) : Status::Ok();
    bytes.Clear();
    return result;
}

// Reads up to `count` bytes into `into`, never keeping more than were asked for.
Status ReadChunk(BlobPort& input, uint64_t count, Buffer& into, uint32_t& got) {
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(count, cryptSYMMETRIC::kChunk));
    const uint32_t before = into.Length();
    const Status result = input.Read(want, into);
    got = into.Length() - before;
    if (got > want) {
        into.ConsumeEnd(got - want);
        got = want;
    }
    return result;
}

// Progress and the abort request at a flush: 0 to go on, 30008 to end the pass. A handler that
// released the event control is remembered in `gone`, after which nothing touches it.
Status CheckEvents(EventControl* events, bool& gone, uint64_t position, uint64_t total) {
    if (!events) return Status::Ok();
    if (events->EventsEnabled() && position != total && !events->FireProgress(position, total)) {
        gone = true;
        return Status::Code(kErrAborted);
    }
    return events->AbortRequested() ? Status::Code(kErrAborted) : Status::Ok();
}

// The closing Progress(total, total) of a pass.
Status FinishEvents(EventControl* events, bool& gone, uint64_t total, Status result) {
    if (events && !gone && events->EventsEnabled() && !events->FireProgress(total, total)) {
        gone = true;
        return Status::Code(kErrAborted);
    }
    return result;
}

// The passes' direct lane: runs of whole blocks taken from the input blob's storage and written
// into the output blob's (ReadView and WriteSpace), used while both blobs offer them. Output
// written this way since the last flush is counted, so that the flushes fall where the staged
// way puts them and a failed pass can take those bytes back, as the staged way never writes
// them.
class DirectLane {
public:
    struct Span {
        const uint8_t* in = nullptr;
        uint8_t* out = nullptr;
        size_t blocks = 0;
    };

    bool Allowed() const { return allowed_; }
    // The lane is left for the rest of the pass (a blob without views, a cipher without runs).
    bool Stop() {
        allowed_ = false;
        return false;
    }
    uint32_t Unflushed() const { return unflushed_; }
    void Flushed() { unflushed_ = 0; }

    // Up to `limit` blocks of `block` bytes, fewer when the chunk fills earlier; 0 when a run
    // would not be worth it (fewer than two blocks).
    size_t Blocks(uint64_t limit, uint32_t block) const {
        const uint32_t room = cryptSYMMETRIC::kChunk - std::min(unflushed_, cryptSYMMETRIC::kChunk);
        const uint64_t blocks = std::min<uint64_t>(limit, (room + block - 1) / block);
        return blocks >= 2 ? static_cast<size_t>(blocks) : 0;
    }

    // The output's room first: making it may move a memory blob's array, which would invalidate
    // a view of the same blob taken before. A span with no input when either blob has none.
    Span Take(BlobPort& input, BlobPort& output, size_t blocks, uint32_t block) {
        const uint32_t bytes = static_cast<uint32_t>(blocks * block);
        uint8_t* out = output.WriteSpace(bytes);
        uint32_t available = 0;
        const uint8_t* in = out ? input.ReadView(bytes, &available) : nullptr;
        if (!in || available / block < 2) return {};
        return {in, out, std::min<size_t>(blocks, available / block)};
    }

    void Commit(BlobPort& input, BlobPort& output, const Span& span, uint32_t block) {
        const uint32_t bytes = static_cast<uint32_t>(span.blocks * block);
        output.WriteCommit(bytes);
        input.ReadAdvance(bytes);
        unflushed_ += bytes;
    }

    void TakeBack(BlobPort& output) {
        if (unflushed_) output.Unwrite(unflushed_);
        unflushed_ = 0;
    }

private:
    bool allowed_ = true;
    uint32_t unflushed_ = 0;
};

}  // namespace

// ---- encryption --------------------------------------------------------------------------------

class EncryptPass {
public:
    EncryptPass(cryptSYMMETRIC& cipher, BlobPort& input, BlobPort& output, EventControl* events)
        : cipher_(cipher), input_(input), output_(output), events_(events),
          owner_(cipher.owner_ ? *cipher.owner_ : detached_owner_) {}

    Status Run(bool from_current) {
        cipher_.event_control_gone_ = false;
        cipher_.block_failed_ = false;
        cipher_.working_length_ = cipher_.block_size_;
        total_ = from_current ? BlobRemainingSize(input_) : BlobSizeFromStart(input_);
        LogLength(owner_, "RawEncrypt", total_);
        reserve_ = cipher_.block_reserve_;
        if (!cipher_.HasKeySchedule() || cipher_.block_size_ == 0) {
            cipher_.working_length_ = static_cast<int32_t>(std::min<uint64_t>(total_, cryptSYMMETRIC::kMaxWorkingBlock));
            reserve_ = 0;
        }
        cipher_.working_length_ = std::clamp<int32_t>(cipher_.working_length_, 0, cryptSYMMETRIC::kMaxWorkingBlock);
        // Room for at least 16 bytes, so that a block operation may lengthen a tiny block.
        capacity_ = std::max<uint32_t>(static_cast<uint32_t>(cipher_.working_length_), 16);
        if (!block_.Allocate(3 * static_cast<size_t>(capacity_)) || !cipher_output_.Allocate(std::max<uint32_t>(2 * capacity_, 1024)))
            return Status::Code(kErrOutOfMemory);

        // The output is about as long as the input (the blocks round it up a little).
        output_.ExpectWrites(total_ + 2 * capacity_);
        Status result = Loop();
        if (cipher_.compression_.IsOpen()) cipher_.compression_.End();
        if (result.IsOk() && accumulator_.Length()) result = WriteAll(output_, accumulator_);
        if (!result.IsOk()) direct_.TakeBack(output_);
        return FinishEvents(events_, cipher_.event_control_gone_, total_, result);
    }

private:
    Status Loop() {
        remaining_ = total_;
        const int32_t compression = owner_.CipherCompression();
        if (compression == at::kZlibCompression || compression == at::kGZipCompression) {
            const auto format = compression == at::kZlibCompression ? CompressionFormat::kZlib : CompressionFormat::kGzip;
            if (cipher_.compression_.OpenDeflate(format) != Z_OK) return Status::Code(kErrOutOfMemory);
        }
        compression_ = compression;

        Status result;
        while ((staged_.Length() > 0 || remaining_ > 0) && result.IsOk()) {
            if (DirectRun()) {
                // As after a staged run: the run's last block counts once the flush is done.
                result = FlushIfFull();
                progress_ += DataLength();
                continue;
            }
            const uint32_t data_length = DataLength();
            if (need_more_ || staged_.Length() == 0 || (remaining_ > 0 && remaining_ < data_length)) {
                result = Refill();
                if (!result.IsOk()) break;
            }
            uint64_t advance = DataLength();
            if (!cipher_.HasKeySchedule()) {
                // Without a cipher the whole staged input moves on; progress counts those bytes.
                advance = staged_.Length();
                if (!accumulator_.Append(staged_.Data(), staged_.Length())) return Status::Code(kErrOutOfMemory);
                staged_.Clear();
            } else {
                result = ProcessBlocks();
                if (!result.IsOk()) break;
                advance = DataLength();
            }
            result = FlushIfFull();
            if (!need_more_) progress_ += advance;
        }
        return result;
    }

    uint32_t DataLength() const {
        const int32_t d = cipher_.working_length_ - reserve_;
        return d > 0 ? static_cast<uint32_t>(d) : 0;
    }

    // Reads and, if asked, compresses input into the staged buffer.
    Status Refill() {
        need_more_ = false;
        for (;;) {
            uint32_t got = 0;
            Status result;
            if (compression_ == at::kNoCompression) {
                result = ReadChunk(input_, remaining_, staged_, got);
            } else {
                read_.Clear();
                result = ReadChunk(input_, remaining_, read_, got);
            }
            // A blob that delivers less than it measured has ended early.
            remaining_ = got ? remaining_ - std::min<uint64_t>(got, remaining_) : 0;
            if (result.IsOk() && compression_ != at::kNoCompression) result = Compress(got);
            if (!result.IsOk() || got == 0 || compression_ == at::kNoCompression || staged_.Length() >= cryptSYMMETRIC::kChunk)
                return result;
        }
    }

    Status Compress(uint32_t got) {
        CompressionStream& stream = cipher_.compression_;
        if (!stream.IsDeflate()) return Status::Ok();  // finished: later reads add nothing
        if (compression_ == at::kZlibCompression) {
            const bool finish = got == 0 || remaining_ == 0;
            const int rc = stream.DeflateChunk(read_, staged_, finish ? Z_FINISH : Z_PARTIAL_FLUSH);
            if (finish) stream.End();
            return rc == Z_OK || rc == Z_STREAM_END ? Status::Ok() : Status::Code(kErrOutOfMemory);
        }
        if (!gzip_header_written_) {
            if (!AppendGzipHeader(staged_)) return Status::Code(kErrOutOfMemory);
            gzip_header_written_ = true;
        }
        int rc = stream.DeflateChunk(read_, staged_, Z_NO_FLUSH);
        if (rc != Z_OK) return Status::Code(kErrOutOfMemory);
        gzip_crc_ = crc32(gzip_crc_, read_.Data(), read_.Length());
        gzip_count_ += got;
        if (remaining_ == 0) {
            read_.Clear();
            rc = stream.DeflateChunk(read_, staged_, Z_FINISH);
            stream.End();
            if (rc != Z_STREAM_END) return Status::Code(kErrOutOfMemory);
            if (!AppendGzipTrailer(staged_, static_cast<uint32_t>(gzip_crc_), gzip_count_)) return Status::Code(kErrOutOfMemory);
        }
        return Status::Ok();
    }

    // Takes one block, or a run of whole blocks, from the staged input to the accumulator.
    Status ProcessBlocks() {
        const uint32_t d = DataLength();
        uint32_t i = staged_.Length();
        if (i == 0) return Status::Ok();
        if (d == 0) return Status::Code(kErrTypeNotForMethod);  // a reserve that leaves no room for data
        const int32_t padding = owner_.CipherPadding();
        if (remaining_ == 0 && padding == at::kPadPKCS7 && i == d && pkcs7_pending_) {
            pkcs7_pending_ = false;
            uint8_t* pad = staged_.AppendSpace(d);
            if (!pad) return Status::Code(kErrOutOfMemory);
            memset(pad, static_cast<uint8_t>(d % 256), d);
        } else if (i < d) {
            if (remaining_ > 0) {
                need_more_ = true;
                return Status::Ok();
            }
            FillPadding(i, d, padding);
        }

        const int32_t mode = owner_.CipherMode();
        Buffer& iv_register = owner_.CipherIvRegister();
        uint8_t* iv = IvStorage(iv_register, capacity_);
        if (!iv) return Status::Code(kErrOutOfMemory);
        if (TryRun(i, d, mode, iv)) return run_result_;
        return OneBlock(std::min(d, i), d, mode, iv);
    }

    void FillPadding(uint32_t from, uint32_t to, int32_t padding) {
        uint8_t* block = block_.Data();
        for (uint32_t j = from; j < to; ++j) {
            switch (padding) {
                case at::kPadSpace: block[j] = 0x20; break;
                case at::kPadRandom: block[j] = static_cast<uint8_t>(NonCryptoRandom()); break;
                case at::kPadPKCS7: block[j] = pkcs7_pending_ ? static_cast<uint8_t>((to - from) % 256) : 0; break;
                default: block[j] = 0; break;
            }
        }
        if (padding == at::kPadPKCS7) pkcs7_pending_ = false;
    }

    // Whole blocks in one call of the cipher, when it can and the mode allows. The run stops
    // before the last staged block (which may need padding) and at the block that fills the
    // accumulator, so that flushes, progress and padding happen exactly as block by block.
    bool TryRun(uint32_t staged, uint32_t d, int32_t mode, uint8_t* iv) {
        const uint32_t w = static_cast<uint32_t>(cipher_.working_length_);
        if (reserve_ != 0 || w != d || (mode != at::kModeECB && mode != at::kModeCBC) || staged <= d) return false;
        const uint32_t room = cryptSYMMETRIC::kChunk - std::min(accumulator_.Length(), cryptSYMMETRIC::kChunk);
        const size_t blocks = std::min<size_t>((staged - 1) / d, (room + w - 1) / w);
        if (blocks < 2) return false;
        uint8_t* out = accumulator_.AppendSpace(static_cast<uint32_t>(blocks * w));
        if (!out) {
            run_result_ = Status::Code(kErrOutOfMemory);
            return true;
        }
        if (!cipher_.EncryptRun(staged_.Data(), out, blocks, mode == at::kModeCBC, iv)) {
            accumulator_.ConsumeEnd(static_cast<uint32_t>(blocks * w));
            return false;
        }
        staged_.Consume(static_cast<uint32_t>(blocks * d));
        progress_ += static_cast<uint64_t>(blocks - 1) * d;
        run_result_ = Status::Ok();
        return true;
    }

    // Whole blocks from the input blob's storage straight into the output blob's, where both
    // offer it: the same blocks, flushes and progress as the staged way, without its copies. Like
    // a staged run it leaves the input's last block (which may need padding) and stops at the
    // block that fills the chunk.
    bool DirectRun() {
        const uint32_t d = DataLength();
        const int32_t mode = owner_.CipherMode();
        if (!direct_.Allowed() || staged_.Length() != 0 || accumulator_.Length() != 0 || compression_ != at::kNoCompression ||
            !cipher_.HasKeySchedule() || reserve_ != 0 || d == 0 || static_cast<uint32_t>(cipher_.working_length_) != d ||
            (mode != at::kModeECB && mode != at::kModeCBC) || remaining_ <= d)
            return false;
        const size_t blocks = direct_.Blocks((remaining_ - 1) / d, d);
        if (blocks == 0) return false;  // the input's end: the staged way finishes it
        uint8_t* iv = IvStorage(owner_.CipherIvRegister(), capacity_);
        const DirectLane::Span span = iv ? direct_.Take(input_, output_, blocks, d) : DirectLane::Span{};
        if (!span.in || !cipher_.EncryptRun(span.in, span.out, span.blocks, mode == at::kModeCBC, iv)) return direct_.Stop();
        direct_.Commit(input_, output_, span, d);
        remaining_ -= span.blocks * d;
        progress_ += (span.blocks - 1) * d;
        return true;
    }

    Status OneBlock(uint32_t n, uint32_t d, int32_t mode, uint8_t* iv) {
        uint8_t* block = block_.Data();
        uint8_t* out = cipher_output_.Data();
        memcpy(block, staged_.Data(), n);
        staged_.Consume(std::min(d, staged_.Length()));

        const uint8_t* source = block;
        if (mode == at::kModeCBC) {
            for (uint32_t j = 0; j < d; ++j) block[j] ^= iv[j];
        } else if (mode == at::kModeCFB || mode == at::kModeOFB) {
            if (reserve_ != 0) return Status::Code(kErrTypeNotForMethod);
            source = iv;
        }
        cipher_.significant_length_ = static_cast<int32_t>(n);
        cipher_.EncryptBlock(source, out);
        cipher_.significant_length_ = 0;
        // A block the key cannot encrypt (RSA) fails the pass instead of writing zeros in its
        // place.
        if (cipher_.block_failed_) return Status::Code(kErrNoSecretKey);
        // A block operation may change the working length; it never exceeds what was allocated.
        cipher_.working_length_ = std::clamp<int32_t>(cipher_.working_length_, 0, static_cast<int32_t>(capacity_));
        const uint32_t w = static_cast<uint32_t>(cipher_.working_length_);

        if (mode == at::kModeCBC) {
            memcpy(iv, out, w);
        } else if (mode == at::kModeCFB) {
            for (uint32_t j = 0; j < w; ++j) iv[j] = out[j] ^= block[j];
        } else if (mode == at::kModeOFB) {
            for (uint32_t j = 0; j < w; ++j) {
                iv[j] = out[j];
                out[j] ^= block[j];
            }
        }
        return accumulator_.Append(out, w) ? Status::Ok() : Status::Code(kErrOutOfMemory);
    }

    Status FlushIfFull() {
        if (accumulator_.Length() + direct_.Unflushed() < cryptSYMMETRIC::kChunk) return Status::Ok();
        const Status result = WriteAll(output_, accumulator_);
        if (!result.IsOk()) return result;
        direct_.Flushed();
        return CheckEvents(events_, cipher_.event_control_gone_, progress_, total_);
    }

    cryptSYMMETRIC& cipher_;
    BlobPort& input_;
    BlobPort& output_;
    EventControl* events_;
    DetachedOwner detached_owner_;
    CipherOwner& owner_;

    uint64_t total_ = 0;
    uint64_t remaining_ = 0;
    uint64_t progress_ = 0;
    int32_t reserve_ = 0;
    int32_t compression_ = at::kNoCompression;
    uint32_t capacity_ = 0;  // the longest working block the buffers hold
    bool pkcs7_pending_ = true;
    bool need_more_ = false;
    bool gzip_header_written_ = false;
    uLong gzip_crc_ = crc32(0, Z_NULL, 0);
    uint32_t gzip_count_ = 0;
    Status run_result_;
    DirectLane direct_;

    SecureBytes block_;
    SecureBytes cipher_output_;
    Buffer read_;
    Buffer staged_;
    Buffer accumulator_;
};

Status cryptSYMMETRIC::RawEncrypt(BlobPort& input, BlobPort& output, bool from_current, EventControl* events) {
    EncryptPass pass(*this, input, output, events);
    return pass.Run(from_current);
}

// ---- decryption --------------------------------------------------------------------------------

class DecryptPass {
public:
    DecryptPass(cryptSYMMETRIC& cipher, BlobPort& input, BlobPort& output, EventControl* events)
        : cipher_(cipher), input_(input), output_(output), events_(events),
          owner_(cipher.owner_ ? *cipher.owner_ : detached_owner_) {}

    Status Run(uint64_t length_limit) {
        cipher_.event_control_gone_ = false;
        cipher_.block_failed_ = false;
        total_ = BlobRemainingSize(input_);
        const uint64_t limit = length_limit ? length_limit : total_;
        LogLength(owner_, "RawDecrypt", limit);

        const uint32_t block = static_cast<uint32_t>(std::max(cipher_.block_size_, 0));
        reserve_ = static_cast<uint32_t>(std::max(cipher_.block_reserve_, 0));
        uint64_t piece = block;
        if (!cipher_.HasKeySchedule() || block == 0) {
            piece = total_;
            reserve_ = 0;
        }
        piece_ = static_cast<uint32_t>(std::min<uint64_t>(piece, cryptSYMMETRIC::kMaxWorkingBlock));
        capacity_ = std::max<uint32_t>(piece_, 16);
        if (!input_block_.Allocate(2 * static_cast<size_t>(capacity_)) || !saved_.Allocate(2 * static_cast<size_t>(capacity_)) ||
            !output_block_.Allocate(std::max<uint32_t>(2 * capacity_, 1024)))
            return Status::Code(kErrOutOfMemory);

        padding_ = owner_.CipherPadding();
        compression_ = owner_.CipherCompression();
        if (compression_ == at::kZlibCompression || compression_ == at::kGZipCompression) {
            const auto format = compression_ == at::kZlibCompression ? CompressionFormat::kZlib : CompressionFormat::kGzip;
            if (cipher_.compression_.OpenInflate(format) != Z_OK) return Status::Code(kErrOutOfMemory);
        }

        output_.ExpectWrites(limit);
        Status result = Loop(block, limit);
        if (padding_ == at::kPadPKCS7) accumulator_.ConsumeEnd(std::min(pad_, accumulator_.Length()));
        if (result.IsOk() && accumulator_.Length()) result = Flush();
        if (result.IsOk() && compressed_fed_ && !CompressedDataEnded()) result = Status::Code(kErrDecompressFailed);
        if (!result.IsOk()) direct_.TakeBack(output_);
        cipher_.compression_.End();
        return FinishEvents(events_, cipher_.event_control_gone_, total_, result);
    }

private:
    Status Loop(uint32_t block, uint64_t limit) {
        uint64_t remaining = total_;
        uint64_t processed = 0;
        Status result;
        while (remaining > 0 && result.IsOk() && processed < limit) {
            uint32_t c = piece_;
            if (const size_t run = DirectRun(block, remaining, limit - processed)) {
                if (direct_.Unflushed() >= cryptSYMMETRIC::kChunk) result = FlushAndReport(processed + (run - 1) * block);
                remaining -= run * block;
                processed += run * block;
                continue;
            }
            if (const size_t run = RunLength(block, remaining, limit - processed)) {
                result = DecryptRun(run);
                if (result.IsOk() && accumulator_.Length() >= cryptSYMMETRIC::kChunk) result = FlushAndReport(processed + (run - 1) * block);
                remaining -= run * block;
                processed += run * block;
                continue;
            }
            if (remaining < c) {
                // The last, short piece: decrypted as a whole piece whose tail is zero.
                uint8_t* in = input_block_.Data();
                memset(in, 0, c);
                if (staged_.Length() < remaining) result = ReadUntil(remaining, remaining);
                const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(remaining, staged_.Length()));
                memcpy(in, staged_.Data(), n);
                staged_.Consume(n);
            } else {
                // A blob may deliver fewer bytes than asked: reads go on until the piece is whole,
                // so that a cipher never sees part of a block as a piece of its own. A cipher
                // without a block size (Unix crypt) chains over whole working blocks: its pieces
                // must be the working blocks of the encryption, not the reads.
                const bool whole_blocks = block == 0 && cipher_.HasKeySchedule();
                if (staged_.Length() < c)
                    result = ReadUntil(std::min<uint64_t>(remaining, cryptSYMMETRIC::kChunk),
                                       cipher_.HasKeySchedule() ? std::min<uint64_t>(c, remaining) : 1);
                uint64_t n = remaining;
                if (block != 0 && block < remaining) n = block;
                n = std::min<uint64_t>({n, staged_.Length(), whole_blocks ? c : capacity_});
                if (n == 0) break;  // the blob delivered less than it measured
                memcpy(input_block_.Data(), staged_.Data(), static_cast<size_t>(n));
                staged_.Consume(static_cast<uint32_t>(n));
                c = piece_ = static_cast<uint32_t>(n);
            }
            if (!result.IsOk()) break;
            const bool last = remaining <= c || processed + c >= limit;
            cipher_.working_length_ = static_cast<int32_t>(c);
            result = DecryptPiece(c, remaining);
            // The last piece is never passed on before the padding is removed.
            if (result.IsOk() && !(last && padding_ == at::kPadPKCS7) && accumulator_.Length() + direct_.Unflushed() >= cryptSYMMETRIC::kChunk)
                result = FlushAndReport(processed);
            remaining -= std::min<uint64_t>(c, remaining);
            processed += c;
        }
        return result;
    }

    Status Read(uint64_t count) { return input_.Read(static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX)), staged_); }

    // Reads (asking for up to `count` more bytes each time) until at least `wanted` bytes are
    // staged, a read fails, or a read delivers nothing (the blob ended early).
    Status ReadUntil(uint64_t count, uint64_t wanted) {
        Status result;
        while (result.IsOk() && staged_.Length() < wanted) {
            const uint32_t before = staged_.Length();
            result = Read(std::max<uint64_t>(count - std::min<uint64_t>(count, before), 1));
            if (staged_.Length() == before) break;
        }
        return result;
    }

    // Whole blocks that can go through the cipher in one call: never the last piece of the
    // input or of the limit, and never past the block that fills the accumulator.
    size_t RunLength(uint32_t block, uint64_t remaining, uint64_t before_limit) {
        const int32_t mode = owner_.CipherMode();
        if (block == 0 || reserve_ != 0 || piece_ != block || !cipher_.HasKeySchedule() ||
            (mode != at::kModeECB && mode != at::kModeCBC))
            return 0;
        const uint32_t room = cryptSYMMETRIC::kChunk - std::min(accumulator_.Length(), cryptSYMMETRIC::kChunk);
        size_t run = staged_.Length() / block;
        run = std::min<uint64_t>(run, (remaining - 1) / block);
        run = std::min<uint64_t>(run, (before_limit - 1) / block);
        run = std::min<size_t>(run, (room + block - 1) / block);
        return run >= 2 ? run : 0;
    }

    // Whole blocks from the input blob's storage straight into the output blob's, where both
    // offer it; the blocks, flushes and progress of RunLength's runs without their copies.
    size_t DirectRun(uint32_t block, uint64_t remaining, uint64_t before_limit) {
        const int32_t mode = owner_.CipherMode();
        if (!direct_.Allowed() || staged_.Length() != 0 || accumulator_.Length() != 0 || compression_ != at::kNoCompression ||
            block == 0 || reserve_ != 0 || piece_ != block || !cipher_.HasKeySchedule() ||
            (mode != at::kModeECB && mode != at::kModeCBC))
            return 0;
        const size_t blocks = direct_.Blocks(std::min<uint64_t>((remaining - 1) / block, (before_limit - 1) / block), block);
        if (blocks == 0) return 0;  // the input's end: the staged way finishes it
        uint8_t* iv = IvStorage(owner_.CipherIvRegister(), capacity_);
        const DirectLane::Span span = iv ? direct_.Take(input_, output_, blocks, block) : DirectLane::Span{};
        cipher_.working_length_ = static_cast<int32_t>(block);
        if (!span.in || !cipher_.DecryptRun(span.in, span.out, span.blocks, mode == at::kModeCBC, iv)) return direct_.Stop();
        if (padding_ == at::kPadPKCS7) pad_ = PadValue(span.out + (span.blocks - 1) * block, block, block);
        direct_.Commit(input_, output_, span, block);
        return span.blocks;
    }

    Status DecryptRun(size_t run) {
        const uint32_t block = static_cast<uint32_t>(cipher_.block_size_);
        const uint32_t bytes = static_cast<uint32_t>(run * block);
        uint8_t* out = accumulator_.AppendSpace(bytes);
        if (!out) return Status::Code(kErrOutOfMemory);
        const bool chain = owner_.CipherMode() == at::kModeCBC;
        uint8_t* iv = IvStorage(owner_.CipherIvRegister(), capacity_);
        if (!iv) return Status::Code(kErrOutOfMemory);
        cipher_.working_length_ = static_cast<int32_t>(block);
        if (!cipher_.DecryptRun(staged_.Data(), out, run, chain, iv)) {
            // The cipher cannot batch: the same blocks one by one.
            for (size_t k = 0; k < run; ++k) {
                memcpy(input_block_.Data(), staged_.Data() + k * block, block);
                DecryptBlockInPlace(block, chain, iv);
                memcpy(out + k * block, output_block_.Data(), block);
            }
            if (cipher_.block_failed_) return Status::Code(kErrDecryptFailed);
        }
        if (padding_ == at::kPadPKCS7) pad_ = PadValue(out + bytes - block, block, block);
        staged_.Consume(bytes);
        return Status::Ok();
    }

    void DecryptBlockInPlace(uint32_t c, bool chain, uint8_t* iv) {
        uint8_t* in = input_block_.Data();
        uint8_t* out = output_block_.Data();
        if (chain) memcpy(saved_.Data(), in, c);
        cipher_.DecryptBlock(in, out);
        if (!chain) return;
        const uint32_t m = SignificantOr(c - reserve_, c);
        for (uint32_t j = 0; j < m; ++j) {
            out[j] ^= iv[j];
            iv[j] = saved_.Data()[j];
        }
    }

    uint32_t SignificantOr(uint32_t fallback, uint32_t c) const {
        const int32_t significant = cipher_.significant_length_;
        return significant > 0 ? std::min<uint32_t>(static_cast<uint32_t>(significant), c) : fallback;
    }

    // The PKCS#7 count that a decrypted block ends with, or 0 when the block carried no padding.
    // Padding always fills a block to its end, so a block that gave fewer bytes than it holds
    // (RSA: the decryption tells how many went in, and a short last block travels unpadded) is
    // all data.
    uint32_t PadValue(const uint8_t* block_output, uint32_t c, uint32_t produced) const {
        const uint32_t data = c - reserve_;
        if (produced < data) return 0;
        const uint32_t value = block_output[data - 1];
        if (reserve_ == 0) return value > c ? 0 : value;
        // A block with a reserve (RSA) is padded only as a whole block of (data length modulo
        // 256): the count is the one within the block that the byte stands for.
        return value > data ? 0 : value + (data - value) / 256 * 256;
    }

    Status DecryptPiece(uint32_t c, uint64_t remaining) {
        uint8_t* in = input_block_.Data();
        uint8_t* out = output_block_.Data();
        if (reserve_ >= c) return Status::Code(kErrTypeNotForMethod);  // a reserve that leaves no room for data
        if (!cipher_.HasKeySchedule()) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(c - reserve_, remaining));
            return accumulator_.Append(in, n) ? Status::Ok() : Status::Code(kErrOutOfMemory);
        }
        const int32_t mode = owner_.CipherMode();
        uint8_t* iv = IvStorage(owner_.CipherIvRegister(), capacity_);
        if (!iv) return Status::Code(kErrOutOfMemory);
        if (mode == at::kModeCFB) {
            if (reserve_ != 0) return Status::Code(kErrTypeNotForMethod);
            cipher_.EncryptBlock(iv, out);
            const uint32_t m = SignificantOr(c, c);
            for (uint32_t j = 0; j < m; ++j) {
                out[j] ^= in[j];
                iv[j] = in[j];
            }
        } else if (mode == at::kModeOFB) {
            if (reserve_ != 0) return Status::Code(kErrTypeNotForMethod);
            cipher_.EncryptBlock(iv, out);
            for (uint32_t j = 0; j < c; ++j) {
                iv[j] = out[j];
                out[j] ^= in[j];
            }
        } else {
            // ECB, and every unknown mode, decrypts the block alone.
            DecryptBlockInPlace(c, mode == at::kModeCBC, iv);
        }
        if (cipher_.block_failed_) {
            // Wrong key or damaged data: what the block left in `out` is not plaintext.
            cipher_.significant_length_ = 0;
            return Status::Code(kErrDecryptFailed);
        }
        uint32_t n = SignificantOr(c - reserve_, c);
        if (padding_ == at::kPadPKCS7) pad_ = PadValue(out, c, n);
        // Without a block size the piece is the data itself: a short last piece gives back only
        // its own bytes, not the decrypted zeros behind them.
        if (cipher_.block_size_ == 0) n = static_cast<uint32_t>(std::min<uint64_t>(n, remaining));
        cipher_.significant_length_ = 0;
        return accumulator_.Append(out, n) ? Status::Ok() : Status::Code(kErrOutOfMemory);
    }

    Status FlushAndReport(uint64_t position) {
        const Status result = Flush();
        if (!result.IsOk()) return result;
        direct_.Flushed();
        return CheckEvents(events_, cipher_.event_control_gone_, position, total_);
    }

    // Passes the accumulator on: written as it is, or inflated first. Compressed data goes to
    // zlib in slices and what they yield is written every 128000 bytes, so that highly
    // compressed input never inflates into one huge buffer.
    Status Flush() {
        if (compression_ == at::kNoCompression) return WriteAll(output_, accumulator_);
        compressed_fed_ = true;
        Status result;
        for (uint32_t offset = 0; offset < accumulator_.Length() && result.IsOk(); offset += kInflateSlice) {
            const uint32_t length = std::min(kInflateSlice, accumulator_.Length() - offset);
            result = InflateSlice(accumulator_.Data() + offset, length);
            if (result.IsOk() && decompressed_.Length() >= cryptSYMMETRIC::kChunk) result = WriteAll(output_, decompressed_);
        }
        accumulator_.Clear();
        if (result.IsOk()) result = WriteAll(output_, decompressed_);
        decompressed_.Clear();
        return result;
    }

    Status InflateSlice(const uint8_t* data, uint32_t length) {
        CompressionStream& stream = cipher_.compression_;
        if (compression_ == at::kZlibCompression) {
            if (!stream.IsInflate()) return Status::Ok();  // the data has ended; padding follows
            const int rc = stream.InflateChunk(data, length, decompressed_);
            if (rc == Z_STREAM_END) {
                zlib_ended_ = true;
                stream.End();
                return Status::Ok();
            }
            return rc == Z_BUF_ERROR || rc == Z_OK ? Status::Ok() : Status::Code(kErrDecompressFailed);
        }
        // After the end of the deflate data only the trailer and padding follow (a whole
        // working block of it with a Unix crypt Type): the reader refuses them, harmlessly.
        if (stream.GzipDataEnded()) return Status::Ok();
        return stream.GzipFeed(data, length, decompressed_) || stream.GzipDataEnded() ? Status::Ok() : Status::Code(kErrDecompressFailed);
    }

    static constexpr uint32_t kInflateSlice = 4096;

    bool CompressedDataEnded() const {
        if (compression_ == at::kZlibCompression) return zlib_ended_;
        if (compression_ == at::kGZipCompression) return cipher_.compression_.GzipDataEnded();
        return true;
    }

    cryptSYMMETRIC& cipher_;
    BlobPort& input_;
    BlobPort& output_;
    EventControl* events_;
    DetachedOwner detached_owner_;
    CipherOwner& owner_;

    uint64_t total_ = 0;
    uint32_t piece_ = 0;     // C: the length of the piece being decrypted
    uint32_t capacity_ = 0;  // the longest piece the buffers hold
    uint32_t reserve_ = 0;
    int32_t padding_ = at::kPadNull;
    int32_t compression_ = at::kNoCompression;
    uint32_t pad_ = 0;
    bool compressed_fed_ = false;
    bool zlib_ended_ = false;
    DirectLane direct_;

    SecureBytes input_block_;
    SecureBytes saved_;
    SecureBytes output_block_;
    Buffer staged_;
    Buffer accumulator_;
    Buffer decompressed_;
};

Status cryptSYMMETRIC::RawDecrypt(BlobPort& input, BlobPort& output, uint64_t length_limit, EventControl* events) {
    DecryptPass pass(*this, input, output, events);
    return pass.Run(length_limit);
}

}  // namespace ombrix
