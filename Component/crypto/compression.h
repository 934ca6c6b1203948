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

    // deflateInit2: level 9, Z_DEFLATED, window bits 15 (zlib) or -15 (gzip: raw deflate),
    // memory level 8, default strategy. Returns zlib's result (Z_OK on success). A stream
    // still open is ended first.
    int OpenDeflate(CompressionFormat format);
    // inflateInit2 with window bits 15 (zlib) or -15 (gzip: raw deflate). For gzip the reader
    // state becomes 1 (header expected). Returns zlib's result. A stream still open is ended first.
    int OpenInflate(CompressionFormat format);
    // deflateEnd / inflateEnd when a stream is open (their result; Z_DATA_ERROR from deflateEnd
    // means the deflate data was not finished); Z_OK when none is. Frees the kept header bytes
    // and sets the reader state to 0.
    int End();

    bool IsOpen() const { return kind_ != Kind::kNone; }
    bool IsDeflate() const { return kind_ == Kind::kDeflate; }
    bool IsInflate() const { return kind_ == Kind::kInflate; }

    // Compresses all bytes of `input` (left unchanged) with `flush` and appends the output to
    // `output`, in 4096-byte windows. Returns Z_OK (all input taken, output appended),
    // Z_STREAM_END (after Z_FINISH: the deflate data is complete) or the failing zlib result
    // with nothing of the failing call appended. Z_BUF_ERROR with all input taken and a
    // flush other than Z_FINISH means only "nothing to do" (an empty chunk, or the window of
    // the previous call was filled exactly): it is reported as Z_OK. Z_MEM_ERROR when the
    // output buffer cannot grow; Z_STREAM_ERROR when no deflate stream is open.
    int DeflateChunk(const Buffer& input, Buffer& output, int flush);

    // Decompresses the bytes of `input` (left unchanged) and appends the output to `output`,
    // in 4096-byte windows with Z_PARTIAL_FLUSH. Returns zlib's last result: Z_BUF_ERROR (all
    // input used, no more progress without more), Z_STREAM_END (the data ended; bytes after
    // the end are not used), or a failure (Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR, ...) with
    // nothing of the failing call appended. Z_MEM_ERROR also when the output buffer cannot
    // grow; Z_STREAM_ERROR when no inflate stream is open. Meant for the zlib format; on a
    // stream opened for gzip it inflates raw deflate data without the reader's header handling.
    int InflateChunk(const uint8_t* data, uint32_t length, Buffer& output);
    int InflateChunk(const Buffer& input, Buffer& output) { return InflateChunk(input.Data(), input.Length(), output); }

    // The gzip reader: takes the next piece of a gzip stream and appends the decompressed bytes
    // it yields to `output`, in 65536-byte windows with Z_SYNC_FLUSH. True on success (also
    // while the header is still incomplete). False for an invalid header, corrupt deflate data,
    // out of memory, a stream not opened with OpenInflate(kGzip), and every feed after the
    // deflate data has ended (the inflate stream is then already ended) or after a failure.
    // Bytes after the end of the deflate data in the same piece (the trailer) are ignored.
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
