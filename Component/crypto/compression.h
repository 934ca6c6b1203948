// Compression streams: how the symmetric passes drive zlib. Deflate and inflate in
// chunks into byte buffers, the program's own gzip header and trailer, and the gzip reader that
// finds the raw deflate data behind a gzip header arriving in pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zlib.h>

#include "base/buffer.h"

namespace ombrix {

enum class CompressionFormat {
    kZlib,  // RFC 1950: zlib header, deflate data, Adler-32
    kGzip,  // RFC 1952, one member: raw deflate inside the program's own gzip framing
};

// ---- gzip framing ---------------------------------------------------------------------------

inline constexpr uint32_t kGzipHeaderLength = 10;
inline constexpr uint32_t kGzipTrailerLength = 8;

// Appends the 10-byte header the program writes: 1F 8B 08 00 00 00 00 00 00 00.
// False (nothing appended) when the buffer cannot grow.
bool AppendGzipHeader(Buffer& out);
// Appends the CRC-32 of the uncompressed data, then its length modulo 2^32, each 4 bytes
// little-endian. False (nothing appended) when the buffer cannot grow.
bool AppendGzipTrailer(Buffer& out, uint32_t crc32_value, uint32_t uncompressed_length);

enum class GzipHeaderStatus { kIncomplete, kInvalid, kComplete };

// Parses an RFC 1952 header at the start of bytes[0, length). Never reads at or past `length`.
// kComplete sets *header_length (when not null) to the number of header bytes; the other
// results leave it alone. Fewer than 10 bytes are incomplete whatever they hold.
GzipHeaderStatus ParseGzipHeader(const uint8_t* bytes, size_t length, size_t* header_length);

// ---- the stream ----------------------------------------------------------------------------

// One zlib stream (deflate or inflate) with the gzip reader state, for one pass. RAII: the
// destructor ends a stream still open and frees the kept header bytes. zlib's own memory goes
// through allocation functions that wipe it before freeing it (its window holds plaintext).
class CompressionStream {
public:
    static constexpr uint32_t kDeflateWindow = 4096;
    static constexpr uint32_t kInflateWindow = 4096;
    static constexpr uint32_t kGzipInflateWindow = 65536;
    static constexpr int kLevel = 9;
    static constexpr int kMemLevel = 8;

    // Gzip reader states.
    static constexpr uint32_t kReaderUnused = 0;
    static constexpr uint32_t kReaderHeaderExpected = 1;
    static constexpr uint32_t kReaderHeaderIncomplete = 2;
    static constexpr uint32_t kReaderInData = 3;

    CompressionStream();
    CompressionStream(const CompressionStream&) = delete;
    CompressionStream& operator=(const CompressionStream&) = delete;
    ~CompressionStream();

    // deflateInit2 (level 9, memory level 8) or inflateInit2, window bits 15 (zlib) or -15 (gzip:
    // raw deflate); for gzip inflation the reader state becomes 1. A stream still open is ended
    // first. zlib's result.
    int OpenDeflate(CompressionFormat format);
    int OpenInflate(CompressionFormat format);
    // deflateEnd / inflateEnd of an open stream (Z_DATA_ERROR: deflate data not finished), else
    // Z_OK. Frees the kept header bytes and sets the reader state to 0.
    int End();

    bool IsOpen() const { return kind_ != Kind::kNone; }
    bool IsDeflate() const { return kind_ == Kind::kDeflate; }
    bool IsInflate() const { return kind_ == Kind::kInflate; }

    // Compresses all of `input` with `flush`, appending to `output` in 4096-byte windows: Z_OK,
    // Z_STREAM_END (after Z_FINISH), or the failing result with nothing of that call appended.
    // Z_BUF_ERROR with all input taken and no Z_FINISH ("nothing to do") is Z_OK. Z_MEM_ERROR
    // when `output` cannot grow; Z_STREAM_ERROR when no deflate stream is open.
    int DeflateChunk(const Buffer& input, Buffer& output, int flush);

    // Decompresses `input`, appending to `output` in 4096-byte windows with Z_PARTIAL_FLUSH.
    // zlib's last result: Z_BUF_ERROR (all input used), Z_STREAM_END (the data ended; what
    // follows is not used) or a failure with nothing of that call appended; Z_MEM_ERROR also
    // when `output` cannot grow, Z_STREAM_ERROR without an inflate stream. For the zlib format
    // (on a gzip stream: raw deflate data, no header handling).
    int InflateChunk(const uint8_t* data, uint32_t length, Buffer& output);
    int InflateChunk(const Buffer& input, Buffer& output) { return InflateChunk(input.Data(), input.Length(), output); }

    // The gzip reader: the next piece of a gzip stream, its decompressed bytes appended to
    // `output` in 65536-byte windows with Z_SYNC_FLUSH. True on success (an incomplete header
    // included); false for an invalid header, corrupt data, out of memory, a stream not opened
    // with OpenInflate(kGzip), and every feed after the data's end (the stream then ended) or a
    // failure. Bytes after the deflate data (the trailer) are ignored.
    bool GzipFeed(const uint8_t* piece, uint32_t length, Buffer& output);
    bool GzipFeed(const Buffer& piece, Buffer& output) { return GzipFeed(piece.Data(), piece.Length(), output); }

    uint32_t GzipReaderState() const { return reader_state_; }
    // True once the reader has seen the end of the deflate data (and ended the stream).
    bool GzipDataEnded() const { return gzip_ended_; }
    // Header bytes kept in state 2.
    uint32_t KeptHeaderLength() const { return kept_length_; }
    // zlib's own stream, for the caller's inspection (total_in, total_out, msg).
    const z_stream& Stream() const { return stream_; }

private:
    enum class Kind { kNone, kDeflate, kInflate };

    void ResetStream();
    void FreeKept();
    bool KeepMore(const uint8_t* bytes, uint32_t length);
    bool InflateGzipData(const uint8_t* data, uint32_t length, Buffer& output);
    bool Fail();  // frees the kept bytes; every later feed fails

    z_stream stream_;
    Kind kind_ = Kind::kNone;
    bool gzip_ = false;
    uint32_t reader_state_ = kReaderUnused;
    bool reader_failed_ = false;
    bool gzip_ended_ = false;
    uint8_t* kept_ = nullptr;  // state 2: the header bytes received so far
    uint32_t kept_length_ = 0;
};

}  // namespace ombrix
