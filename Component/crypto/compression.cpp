#include "crypto/compression.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

namespace ombrix {

namespace {

// zlib's allocations carry their size in front so that they can be wiped before they are freed:
// the deflate window and the inflate window hold plaintext.
constexpr size_t kAllocationPrefix = 16;  // keeps malloc's 16-byte alignment

voidpf WipingAlloc(voidpf, uInt items, uInt size) {
    const uint64_t n = static_cast<uint64_t>(items) * size;
    if (n > SIZE_MAX - kAllocationPrefix) return Z_NULL;
    auto* block = static_cast<uint8_t*>(malloc(static_cast<size_t>(n) + kAllocationPrefix));
    if (!block) return Z_NULL;
    memcpy(block, &n, sizeof n);
    return block + kAllocationPrefix;
}

void WipingFree(voidpf, voidpf address) {
    if (!address) return;
    auto* block = static_cast<uint8_t*>(address) - kAllocationPrefix;
    uint64_t n = 0;
    memcpy(&n, block, sizeof n);
    SecureZero(block, n + kAllocationPrefix);
    free(block);
}

// Output windows are reserved directly at the end of the output buffer (no temporary copy of
// the data), one byte more than the window so that the buffer's zero byte after its content
// fits; Commit keeps the produced bytes and gives the rest back.
void Commit(Buffer& output, uint8_t* space, uint32_t window, uint32_t produced) {
    output.ConsumeEnd(window + 1 - produced);
    space[produced] = 0;
}

// Runs `step` (one deflate or inflate call) over `length` bytes at `data` with output windows
// of `window` bytes, while it returns Z_OK and, with `stop_unfilled`, fills its window; the
// last result, or Z_MEM_ERROR when `output` cannot grow. No pointer into the input is kept.
template <class Step>
int RunWindows(z_stream& stream, const uint8_t* data, uint32_t length, Buffer& output, uint32_t window,
               bool stop_unfilled, Step step) {
    stream.next_in = const_cast<Bytef*>(data);  // zlib does not write its input
    stream.avail_in = length;
    int result;
    for (;;) {
        uint8_t* space = output.AppendSpace(window + 1);
        if (!space) {
            result = Z_MEM_ERROR;
            break;
        }
        stream.next_out = space;
        stream.avail_out = window;
        result = step();
        const bool produced_output = result == Z_OK || result == Z_STREAM_END;
        Commit(output, space, window, produced_output ? window - stream.avail_out : 0);
        if (result != Z_OK || (stop_unfilled && stream.avail_out != 0)) break;
    }
    stream.next_in = Z_NULL;
    stream.avail_in = 0;
    return result;
}

}  // namespace

// ---- gzip framing ---------------------------------------------------------------------------

bool AppendGzipHeader(Buffer& out) {
    static constexpr uint8_t kHeader[kGzipHeaderLength] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0};
    return out.Append(kHeader, sizeof kHeader);
}

bool AppendGzipTrailer(Buffer& out, uint32_t crc32_value, uint32_t uncompressed_length) {
    uint8_t trailer[kGzipTrailerLength];
    for (int i = 0; i < 4; ++i) {
        trailer[i] = static_cast<uint8_t>(crc32_value >> (8 * i));
        trailer[4 + i] = static_cast<uint8_t>(uncompressed_length >> (8 * i));
    }
    return out.Append(trailer, sizeof trailer);
}

GzipHeaderStatus ParseGzipHeader(const uint8_t* bytes, size_t length, size_t* header_length) {
    constexpr uint8_t kFhcrc = 0x02, kFextra = 0x04, kFname = 0x08, kFcomment = 0x10, kReserved = 0xE0;
    if (!bytes || length < kGzipHeaderLength) return GzipHeaderStatus::kIncomplete;
    if (bytes[0] != 0x1F || bytes[1] != 0x8B || bytes[2] != 0x08 || (bytes[3] & kReserved))
        return GzipHeaderStatus::kInvalid;
    const uint8_t flags = bytes[3];
    size_t position = kGzipHeaderLength;  // modification time, extra flags, operating system skipped
    if (flags & kFextra) {
        if (length - position < 2) return GzipHeaderStatus::kIncomplete;
        const size_t xlen = bytes[position] | (static_cast<size_t>(bytes[position + 1]) << 8);
        position += 2;
        if (length - position < xlen) return GzipHeaderStatus::kIncomplete;
        position += xlen;
    }
    for (const uint8_t field : {kFname, kFcomment}) {
        if (!(flags & field)) continue;
        const void* zero = memchr(bytes + position, 0, length - position);
        if (!zero) return GzipHeaderStatus::kIncomplete;
        position = static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes) + 1;
    }
    if (flags & kFhcrc) {
        if (length - position < 2) return GzipHeaderStatus::kIncomplete;
        position += 2;
    }
    if (header_length) *header_length = position;
    return GzipHeaderStatus::kComplete;
}

// ---- the stream ----------------------------------------------------------------------------

CompressionStream::CompressionStream() { ResetStream(); }

CompressionStream::~CompressionStream() { End(); }

void CompressionStream::ResetStream() {
    memset(&stream_, 0, sizeof stream_);
    stream_.zalloc = WipingAlloc;
    stream_.zfree = WipingFree;
    stream_.opaque = Z_NULL;
    kind_ = Kind::kNone;
}

void CompressionStream::FreeKept() {
    if (kept_) {
        SecureZero(kept_, kept_length_);
        delete[] kept_;
    }
    kept_ = nullptr;
    kept_length_ = 0;
}

int CompressionStream::End() {
    int result = Z_OK;
    if (kind_ == Kind::kDeflate) result = deflateEnd(&stream_);
    if (kind_ == Kind::kInflate) result = inflateEnd(&stream_);
    ResetStream();
    FreeKept();
    gzip_ = false;
    reader_failed_ = false;
    gzip_ended_ = false;
    reader_state_ = kReaderUnused;
    return result;
}

int CompressionStream::OpenDeflate(CompressionFormat format) {
    End();
    const int window_bits = format == CompressionFormat::kGzip ? -MAX_WBITS : MAX_WBITS;
    const int result = deflateInit2(&stream_, kLevel, Z_DEFLATED, window_bits, kMemLevel, Z_DEFAULT_STRATEGY);
    if (result != Z_OK) {
        ResetStream();
        return result;
    }
    kind_ = Kind::kDeflate;
    return Z_OK;
}

int CompressionStream::OpenInflate(CompressionFormat format) {
    End();
    const bool gzip = format == CompressionFormat::kGzip;
    const int result = inflateInit2(&stream_, gzip ? -MAX_WBITS : MAX_WBITS);
    if (result != Z_OK) {
        ResetStream();
        return result;
    }
    kind_ = Kind::kInflate;
    gzip_ = gzip;
    if (gzip) reader_state_ = kReaderHeaderExpected;
    return Z_OK;
}

int CompressionStream::DeflateChunk(const Buffer& input, Buffer& output, int flush) {
    if (kind_ != Kind::kDeflate) return Z_STREAM_ERROR;
    return RunWindows(stream_, input.Data(), input.Length(), output, kDeflateWindow, true, [this, flush] {
        const int result = deflate(&stream_, flush);
        // Z_BUF_ERROR means that no progress was possible, which is no error when all input has
        // been taken: an empty chunk with a flush no stronger than the previous one, or a call
        // after a window that the previous call filled exactly with nothing left to flush.
        // (With Z_FINISH zlib answers Z_STREAM_END or Z_OK instead, and Z_BUF_ERROR there means
        // input after the end.)
        return result == Z_BUF_ERROR && stream_.avail_in == 0 && flush != Z_FINISH ? Z_OK : result;
    });
}

int CompressionStream::InflateChunk(const uint8_t* data, uint32_t length, Buffer& output) {
    if (kind_ != Kind::kInflate) return Z_STREAM_ERROR;
    return RunWindows(stream_, data, length, output, kInflateWindow, false,
                      [this] { return inflate(&stream_, Z_PARTIAL_FLUSH); });
}

bool CompressionStream::KeepMore(const uint8_t* bytes, uint32_t length) {
    if (length == 0) return true;
    if (length > UINT32_MAX - kept_length_) return false;
    const uint32_t total = kept_length_ + length;
    auto* bigger = new (std::nothrow) uint8_t[total];
    if (!bigger) return false;
    if (kept_length_) memcpy(bigger, kept_, kept_length_);
    memcpy(bigger + kept_length_, bytes, length);
    FreeKept();
    kept_ = bigger;
    kept_length_ = total;
    return true;
}

bool CompressionStream::GzipFeed(const uint8_t* piece, uint32_t length, Buffer& output) {
    if (kind_ != Kind::kInflate || !gzip_ || reader_failed_) return false;
    if (!piece && length) return Fail();
    const uint8_t* data = piece;
    uint32_t data_length = length;
    size_t header_length = 0;
    switch (reader_state_) {
    case kReaderHeaderExpected:
    case kReaderHeaderIncomplete: {
        // A header arriving in pieces is kept until it is complete; it then ends in this piece.
        const bool kept = reader_state_ == kReaderHeaderIncomplete;
        const uint32_t earlier = kept_length_;
        if (kept && !KeepMore(piece, length)) return Fail();
        const GzipHeaderStatus status =
            kept ? ParseGzipHeader(kept_, kept_length_, &header_length) : ParseGzipHeader(piece, length, &header_length);
        if (status == GzipHeaderStatus::kInvalid) return Fail();
        if (status == GzipHeaderStatus::kIncomplete) {
            if (!kept && !KeepMore(piece, length)) return Fail();
            reader_state_ = kReaderHeaderIncomplete;
            return true;
        }
        FreeKept();
        const uint32_t skip = header_length > earlier ? static_cast<uint32_t>(header_length - earlier) : 0;
        data = piece + skip;
        data_length = length - skip;
        reader_state_ = kReaderInData;
        break;
    }
    case kReaderInData:
        break;
    default:
        return Fail();
    }
    if (data_length == 0) return true;
    return InflateGzipData(data, data_length, output);
}

bool CompressionStream::Fail() {
    FreeKept();
    reader_failed_ = true;
    return false;
}

bool CompressionStream::InflateGzipData(const uint8_t* data, uint32_t length, Buffer& output) {
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = length;
    bool ok = false;
    for (;;) {
        uint8_t* space = output.AppendSpace(kGzipInflateWindow + 1);
        if (!space) break;
        stream_.next_out = space;
        stream_.avail_out = kGzipInflateWindow;
        const int result = inflate(&stream_, Z_SYNC_FLUSH);
        Commit(output, space, kGzipInflateWindow, kGzipInflateWindow - stream_.avail_out);
        if (result == Z_STREAM_END) {
            // The deflate data is complete: the rest of the piece (the trailer) is ignored and
            // the stream is ended now; later feeds fail.
            const int ended = inflateEnd(&stream_);
            ResetStream();
            gzip_ended_ = true;
            return ended == Z_OK;
        }
        if (result == Z_BUF_ERROR) {
            ok = true;
            break;
        }
        if (result != Z_OK) break;
        if (stream_.avail_in == 0 && stream_.avail_out != 0) {
            ok = true;
            break;
        }
    }
    stream_.next_in = Z_NULL;
    stream_.avail_in = 0;
    return ok ? true : Fail();
}

}  // namespace ombrix
