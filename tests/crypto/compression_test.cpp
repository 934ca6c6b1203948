#include "crypto/compression.h"

#include "crypto/guarded_region.h"
#include "test_bytes.h"


#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using ombrix::AppendGzipHeader;
using ombrix::AppendGzipTrailer;
using ombrix::Buffer;
using ombrix::CompressionFormat;
using ombrix::CompressionStream;
using ombrix::GzipHeaderStatus;
using ombrix::ParseGzipHeader;

namespace {

using test::Bytes;
using test::RandomBytes;

Bytes Content(const Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Length()); }

void Fill(Buffer& buffer, const uint8_t* bytes, size_t n) {
    buffer.Clear();
    ASSERT_TRUE(buffer.Append(bytes, static_cast<uint32_t>(n)));
}

Bytes CompressibleBytes(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"lorem ", "ipsum ", "dolor ", "sit ", "amet, ", "consectetur\r\n", "0123456789 "};
    std::mt19937 rng(seed);
    Bytes bytes;
    bytes.reserve(n + 16);
    while (bytes.size() < n) {
        const char* word = kWords[rng() % std::size(kWords)];
        bytes.insert(bytes.end(), word, word + strlen(word));
    }
    bytes.resize(n);
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Compresses `input` the way the encryption pass does: one deflate chunk per input
// chunk, Z_PARTIAL_FLUSH (zlib) or Z_NO_FLUSH (gzip) while input remains and Z_FINISH at the end
// (for gzip with an empty chunk after the last one), the gzip header before the first output and
// the trailer after the last.
Bytes CompressLikeThePass(CompressionFormat format, const Bytes& input, size_t chunk) {
    CompressionStream stream;
    EXPECT_EQ(stream.OpenDeflate(format), Z_OK);
    Buffer out, in;
    const bool gzip = format == CompressionFormat::kGzip;
    uLong crc = crc32(0, Z_NULL, 0);
    uint32_t count = 0;
    if (gzip) {
        EXPECT_TRUE(AppendGzipHeader(out));
    }
    size_t offset = 0;
    do {
        const size_t n = std::min(chunk, input.size() - offset);
        in.Clear();
        EXPECT_TRUE(in.Append(input.data() + offset, static_cast<uint32_t>(n)));
        offset += n;
        const bool last = offset == input.size();
        if (!gzip) {
            const int result = stream.DeflateChunk(in, out, last ? Z_FINISH : Z_PARTIAL_FLUSH);
            EXPECT_EQ(result, last ? Z_STREAM_END : Z_OK) << "chunk ending at " << offset;
            EXPECT_EQ(in.Length(), n) << "the input buffer is left as it is";
        } else {
            EXPECT_EQ(stream.DeflateChunk(in, out, Z_NO_FLUSH), Z_OK) << "chunk ending at " << offset;
            EXPECT_EQ(in.Length(), n) << "the input buffer is left as it is";
            crc = crc32(crc, in.Data(), in.Length());
            count += static_cast<uint32_t>(n);
            if (last) {
                in.Clear();
                EXPECT_EQ(stream.DeflateChunk(in, out, Z_FINISH), Z_STREAM_END);
            }
        }
    } while (offset < input.size());
    EXPECT_EQ(stream.End(), Z_OK);
    if (gzip) {
        EXPECT_TRUE(AppendGzipTrailer(out, static_cast<uint32_t>(crc), count));
    }
    return Content(out);
}

struct InflateOutcome {
    Bytes data;
    bool ended = false;       // zlib: Z_STREAM_END seen; gzip: the reader saw the end
    bool failed = false;      // an inflate chunk failure or a reader failure before the end
    size_t end_offset = 0;    // gzip: input offset just past the piece in which the data ended
};

// Decompresses the way the decryption pass does: inflate chunk or gzip reader feed per piece.
// Feeding stops at the end of the data (a later gzip feed would fail, by design).
InflateOutcome InflateInPieces(CompressionFormat format, const Bytes& compressed, size_t piece) {
    InflateOutcome outcome;
    CompressionStream stream;
    EXPECT_EQ(stream.OpenInflate(format), Z_OK);
    Buffer in, out;
    size_t offset = 0;
    while (offset < compressed.size() && !outcome.ended && !outcome.failed) {
        const size_t n = std::min(piece, compressed.size() - offset);
        in.Clear();
        EXPECT_TRUE(in.Append(compressed.data() + offset, static_cast<uint32_t>(n)));
        offset += n;
        if (format == CompressionFormat::kZlib) {
            const int result = stream.InflateChunk(in, out);
            if (result == Z_STREAM_END)
                outcome.ended = true;
            else if (result != Z_BUF_ERROR)
                outcome.failed = true;
        } else {
            if (!stream.GzipFeed(in, out))
                outcome.failed = true;
            else if (stream.GzipDataEnded())
                outcome.ended = true;
        }
    }
    outcome.end_offset = offset;
    stream.End();
    outcome.data = Content(out);
    return outcome;
}

// Standard zlib's own decoders, independent of the code under test.
Bytes ZlibUncompress(const Bytes& compressed, size_t expected_size, int* result) {
    Bytes out(expected_size + 1);
    uLongf out_length = static_cast<uLongf>(out.size());
    *result = uncompress(out.data(), &out_length, compressed.data(), static_cast<uLong>(compressed.size()));
    out.resize(out_length);
    return out;
}

// inflate with window bits 15 + 16: gzip decoding that checks the header, the CRC-32 and the length.
Bytes Gunzip(const Bytes& compressed, int* result) {
    z_stream s{};
    Bytes out;
    *result = inflateInit2(&s, 15 + 16);
    if (*result != Z_OK) return out;
    s.next_in = const_cast<Bytef*>(compressed.data());
    s.avail_in = static_cast<uInt>(compressed.size());
    uint8_t window[16384];
    do {
        s.next_out = window;
        s.avail_out = sizeof window;
        *result = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), window, window + (sizeof window - s.avail_out));
    } while (*result == Z_OK);
    if (*result == Z_STREAM_END && s.avail_in != 0) *result = Z_DATA_ERROR;  // one member, nothing after it
    inflateEnd(&s);
    return out;
}

// Raw deflate of `input` with plain zlib, for building gzip members with headers of our own.
Bytes RawDeflate(const Bytes& input) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&s, static_cast<uLong>(input.size())) + 16);
    s.next_in = const_cast<Bytef*>(input.data());
    s.avail_in = static_cast<uInt>(input.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

Bytes Trailer(const Bytes& input) {
    Buffer b;
    EXPECT_TRUE(AppendGzipTrailer(b, static_cast<uint32_t>(crc32(0, input.data(), static_cast<uInt>(input.size()))),
                                  static_cast<uint32_t>(input.size())));
    return Content(b);
}

Bytes Header(uint8_t flags, const Bytes& fields) {
    Bytes header = {0x1F, 0x8B, 0x08, flags, 0x78, 0x56, 0x34, 0x12, 0x02, 0x03};
    return Concat(header, fields);
}

// A header with every optional field: FTEXT, FHCRC, FEXTRA (with zero bytes inside, which must
// not be taken for the end of the name), FNAME, FCOMMENT.
Bytes FullHeader() {
    Bytes fields = {0x07, 0x00, 'A', 0x00, 'B', 0x00, 'C', 0x00, 0x00};  // XLEN 7, then 7 bytes
    // FNAME and FCOMMENT, each with its zero.
    for (const char c : std::string("file.txt\0a comment", 19)) fields.push_back(static_cast<uint8_t>(c));
    fields.push_back(0xAB);  // FHCRC, not checked
    fields.push_back(0xCD);
    return Header(0x1F, fields);
}

// ---- gzip framing helpers ------------------------------------------------------------------

TEST(GzipFraming, HeaderIsTheProgramsTenBytes) {
    Buffer b;
    ASSERT_TRUE(AppendGzipHeader(b));
    EXPECT_EQ(Content(b), (Bytes{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.Data()[b.Length()], 0);
}

TEST(GzipFraming, TrailerIsCrcThenLengthLittleEndian) {
    Buffer b;
    ASSERT_TRUE(b.Append("x", 1));
    ASSERT_TRUE(AppendGzipTrailer(b, 0x12345678u, 0x9ABCDEF0u));
    EXPECT_EQ(Content(b), (Bytes{'x', 0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A}));
}

// ---- round trips ---------------------------------------------------------------------------

struct Input {
    const char* name;
    Bytes bytes;
};

std::vector<Input> RoundTripInputs() {
    return {
        {"empty", {}},
        {"one byte", {0x42}},
        {"4095 random", RandomBytes(4095, 1)},
        {"4096 random", RandomBytes(4096, 2)},
        {"65536 compressible", CompressibleBytes(65536, 3)},
        {"65536 random", RandomBytes(65536, 4)},
        {"1 MiB random", RandomBytes(1 << 20, 5)},
        {"1 MiB compressible", CompressibleBytes(1 << 20, 6)},
    };
}

void CheckRoundTrips(CompressionFormat format) {
    for (const Input& input : RoundTripInputs()) {
        for (const size_t chunk : {size_t{1}, size_t{7}, size_t{4096}, size_t{128000}}) {
            // Byte-by-byte chunks over a whole MiB only multiply the run time.
            if (chunk == 1 && input.bytes.size() > 65536) continue;
            SCOPED_TRACE(std::string(input.name) + ", chunks of " + std::to_string(chunk));
            const Bytes compressed = CompressLikeThePass(format, input.bytes, chunk);
            int result = Z_OK;
            if (format == CompressionFormat::kZlib) {
                EXPECT_EQ(ZlibUncompress(compressed, input.bytes.size(), &result), input.bytes);
                EXPECT_EQ(result, Z_OK) << "standard zlib rejects the stream";
            } else {
                EXPECT_EQ(Gunzip(compressed, &result), input.bytes);
                EXPECT_EQ(result, Z_STREAM_END) << "standard zlib's gzip decoder rejects the member";
            }
            for (const size_t piece : {chunk, size_t{4096}, compressed.size()}) {
                if (piece == 1 && compressed.size() > 300000) continue;
                SCOPED_TRACE("pieces of " + std::to_string(piece));
                const InflateOutcome back = InflateInPieces(format, compressed, std::max<size_t>(piece, 1));
                EXPECT_FALSE(back.failed);
                EXPECT_TRUE(back.ended);
                EXPECT_TRUE(back.data == input.bytes) << "decompressed " << back.data.size() << " bytes";
                if (format == CompressionFormat::kGzip) {
                    // Only the 8 trailer bytes may be left unfed after the data ended.
                    EXPECT_GE(back.end_offset + ombrix::kGzipTrailerLength, compressed.size());
                }
            }
        }
    }
}

TEST(CompressionRoundTrip, ZlibFormatInChunksOfSeveralSizes) { CheckRoundTrips(CompressionFormat::kZlib); }

TEST(CompressionRoundTrip, GzipFormatInChunksOfSeveralSizes) { CheckRoundTrips(CompressionFormat::kGzip); }

TEST(CompressionRoundTrip, CompressibleDataShrinks) {
    const Bytes input = CompressibleBytes(1 << 20, 7);
    EXPECT_LT(CompressLikeThePass(CompressionFormat::kZlib, input, 128000).size(), input.size() / 10);
    EXPECT_LT(CompressLikeThePass(CompressionFormat::kGzip, input, 128000).size(), input.size() / 10);
}

TEST(CompressionRoundTrip, ZlibStreamHasTheZlibHeaderForLevel9) {
    const Bytes out = CompressLikeThePass(CompressionFormat::kZlib, CompressibleBytes(1000, 8), 4096);
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], 0x78);  // deflate, 32 KiB window
    EXPECT_EQ(out[1], 0xDA);  // maximum compression level, no dictionary
}

// ---- deflate chunk details -----------------------------------------------------------------

TEST(DeflateChunk, LeavesTheInputBufferAsItIs) {
    CompressionStream stream;
    ASSERT_EQ(stream.OpenDeflate(CompressionFormat::kZlib), Z_OK);
    const Bytes data = CompressibleBytes(10000, 9);
    Buffer in, out;
    Fill(in, data.data(), data.size());
    in.Consume(100);
    const uint32_t read = in.ReadOffset(), end = in.EndOffset();
    EXPECT_EQ(stream.DeflateChunk(in, out, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(in.ReadOffset(), read);
    EXPECT_EQ(in.EndOffset(), end);
    EXPECT_TRUE(Content(in) == Bytes(data.begin() + 100, data.end()));
    EXPECT_EQ(out.Data()[out.Length()], 0) << "appends keep the zero byte after the content";
    int result = Z_OK;
    EXPECT_TRUE(ZlibUncompress(Content(out), data.size(), &result) == Bytes(data.begin() + 100, data.end()));
    EXPECT_EQ(result, Z_OK);
}

TEST(DeflateChunk, AppendsAfterWhatTheOutputAlreadyHolds) {
    CompressionStream stream;
    ASSERT_EQ(stream.OpenDeflate(CompressionFormat::kZlib), Z_OK);
    Buffer in, out;
    ASSERT_TRUE(out.Append("prefix", 6));
    const Bytes data = RandomBytes(20000, 10);
    Fill(in, data.data(), data.size());
    ASSERT_EQ(stream.DeflateChunk(in, out, Z_FINISH), Z_STREAM_END);
    Bytes all = Content(out);
    ASSERT_EQ(Bytes(all.begin(), all.begin() + 6), (Bytes{'p', 'r', 'e', 'f', 'i', 'x'}));
    int result = Z_OK;
    EXPECT_TRUE(ZlibUncompress(Bytes(all.begin() + 6, all.end()), data.size(), &result) == data);
}

// An empty chunk, or a chunk after a call whose output filled the window exactly, gives zlib
// nothing to do: raw zlib says Z_BUF_ERROR, which must not read as a failure of compression.
TEST(DeflateChunk, NothingToDoIsNotAFailure) {
    // What raw zlib does, to show the case is real.
    {
        z_stream s{};
        ASSERT_EQ(deflateInit2(&s, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
        uint8_t window[4096];
        s.next_out = window;
        s.avail_out = sizeof window;
        ASSERT_EQ(deflate(&s, Z_NO_FLUSH), Z_OK);
        s.next_out = window;
        s.avail_out = sizeof window;
        EXPECT_EQ(deflate(&s, Z_NO_FLUSH), Z_BUF_ERROR);
        deflateEnd(&s);
    }
    for (const auto format : {CompressionFormat::kZlib, CompressionFormat::kGzip}) {
        const int flush = format == CompressionFormat::kZlib ? Z_PARTIAL_FLUSH : Z_NO_FLUSH;
        CompressionStream stream;
        ASSERT_EQ(stream.OpenDeflate(format), Z_OK);
        Buffer empty, in, out;
        EXPECT_EQ(stream.DeflateChunk(empty, out, flush), Z_OK);
        EXPECT_EQ(stream.DeflateChunk(empty, out, flush), Z_OK);
        EXPECT_EQ(stream.DeflateChunk(empty, out, Z_NO_FLUSH), Z_OK);
        const Bytes data = CompressibleBytes(5000, 11);
        Fill(in, data.data(), data.size());
        EXPECT_EQ(stream.DeflateChunk(in, out, flush), Z_OK);
        EXPECT_EQ(stream.DeflateChunk(empty, out, flush), Z_OK);
        EXPECT_EQ(stream.DeflateChunk(empty, out, Z_NO_FLUSH), Z_OK);
        EXPECT_EQ(stream.DeflateChunk(empty, out, Z_FINISH), Z_STREAM_END);
        EXPECT_EQ(stream.DeflateChunk(empty, out, Z_FINISH), Z_STREAM_END) << "repeated finish";
        EXPECT_EQ(stream.End(), Z_OK);
        const Bytes compressed = Content(out);
        const InflateOutcome back = InflateInPieces(
            format, format == CompressionFormat::kGzip ? Concat(Concat({0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0}, compressed), Trailer(data)) : compressed,
            4096);
        EXPECT_TRUE(back.ended);
        EXPECT_TRUE(back.data == data);
    }
}

// Random (stored) data makes the output length grow by one byte per input byte, so the lengths
// in the range fill the 4096-byte window exactly at every point near the end of the chunk.
TEST(DeflateChunk, WindowFilledExactlyAtTheEndOfAChunk) {
    for (const int flush : {Z_PARTIAL_FLUSH, Z_FINISH, Z_SYNC_FLUSH}) {
        int exact = 0;
        for (size_t n = 3950; n <= 4150; ++n) {
            const Bytes data = RandomBytes(n, static_cast<uint32_t>(n));
            CompressionStream stream;
            ASSERT_EQ(stream.OpenDeflate(CompressionFormat::kZlib), Z_OK);
            Buffer in, out, empty;
            Fill(in, data.data(), data.size());
            const int result = stream.DeflateChunk(in, out, flush);
            ASSERT_EQ(result, flush == Z_FINISH ? Z_STREAM_END : Z_OK) << "n=" << n << " flush=" << flush;
            if (out.Length() % CompressionStream::kDeflateWindow == 0) ++exact;
            // The next chunks (nothing more, then the end) must not fail either.
            if (flush != Z_FINISH) {
                ASSERT_EQ(stream.DeflateChunk(empty, out, flush), Z_OK) << "n=" << n;
                ASSERT_EQ(stream.DeflateChunk(in, out, flush), Z_OK) << "n=" << n;
                ASSERT_EQ(stream.DeflateChunk(empty, out, Z_FINISH), Z_STREAM_END) << "n=" << n;
            }
            ASSERT_EQ(stream.End(), Z_OK);
            int uresult = Z_OK;
            const Bytes expected = flush == Z_FINISH ? data : Concat(data, data);
            ASSERT_TRUE(ZlibUncompress(Content(out), expected.size(), &uresult) == expected) << "n=" << n;
            ASSERT_EQ(uresult, Z_OK);
        }
        // zlib 1.2.13 never ends a flushing call on an exactly filled window (it adds a block
        // instead, so the window is filled exactly and one more call follows); with Z_FINISH
        // some length ends exactly on the window.
        if (flush == Z_FINISH) {
            EXPECT_GT(exact, 0) << "no input length filled the window exactly";
        }
    }
}

TEST(DeflateChunk, InputAfterTheEndIsAnError) {
    CompressionStream stream;
    ASSERT_EQ(stream.OpenDeflate(CompressionFormat::kZlib), Z_OK);
    Buffer in, out;
    ASSERT_TRUE(in.Append("abc", 3));
    ASSERT_EQ(stream.DeflateChunk(in, out, Z_FINISH), Z_STREAM_END);
    const uint32_t before = out.Length();
    const int result = stream.DeflateChunk(in, out, Z_PARTIAL_FLUSH);
    EXPECT_NE(result, Z_OK);
    EXPECT_NE(result, Z_STREAM_END);
    EXPECT_EQ(out.Length(), before) << "nothing appended on failure";
}

TEST(CompressionStream, OperationsWithoutTheRightStreamFail) {
    CompressionStream stream;
    Buffer in, out;
    ASSERT_TRUE(in.Append("abc", 3));
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.DeflateChunk(in, out, Z_FINISH), Z_STREAM_ERROR);
    EXPECT_EQ(stream.InflateChunk(in, out), Z_STREAM_ERROR);
    EXPECT_FALSE(stream.GzipFeed(in, out));
    EXPECT_EQ(stream.End(), Z_OK);
    EXPECT_EQ(stream.End(), Z_OK);

    ASSERT_EQ(stream.OpenDeflate(CompressionFormat::kGzip), Z_OK);
    EXPECT_TRUE(stream.IsDeflate());
    EXPECT_EQ(stream.GzipReaderState(), 0u);
    EXPECT_EQ(stream.InflateChunk(in, out), Z_STREAM_ERROR);
    EXPECT_FALSE(stream.GzipFeed(in, out));

    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kZlib), Z_OK) << "reopening ends the old stream";
    EXPECT_TRUE(stream.IsInflate());
    EXPECT_EQ(stream.GzipReaderState(), 0u);
    EXPECT_EQ(stream.DeflateChunk(in, out, Z_FINISH), Z_STREAM_ERROR);
    EXPECT_FALSE(stream.GzipFeed(in, out)) << "the reader needs a stream opened for gzip";

    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
    EXPECT_EQ(stream.GzipReaderState(), 1u);
    EXPECT_EQ(stream.End(), Z_OK);
    EXPECT_EQ(stream.GzipReaderState(), 0u);
    EXPECT_EQ(out.Length(), 0u);
}

TEST(CompressionStream, EndingAnUnfinishedDeflateReportsIt) {
    CompressionStream stream;
    ASSERT_EQ(stream.OpenDeflate(CompressionFormat::kZlib), Z_OK);
    Buffer in, out;
    const Bytes data = RandomBytes(10000, 12);
    Fill(in, data.data(), data.size());
    ASSERT_EQ(stream.DeflateChunk(in, out, Z_NO_FLUSH), Z_OK);
    EXPECT_EQ(stream.End(), Z_DATA_ERROR);  // deflateEnd: freed before the data was finished
    EXPECT_FALSE(stream.IsOpen());
}

TEST(CompressionStream, DestructorEndsStreamsStillOpen) {
    for (int i = 0; i < 200; ++i) {  // would exhaust nothing visible, but runs every path of the destructor
        CompressionStream deflating, inflating, reading;
        ASSERT_EQ(deflating.OpenDeflate(CompressionFormat::kZlib), Z_OK);
        ASSERT_EQ(inflating.OpenInflate(CompressionFormat::kZlib), Z_OK);
        ASSERT_EQ(reading.OpenInflate(CompressionFormat::kGzip), Z_OK);
        Buffer out;
        ASSERT_TRUE(reading.GzipFeed(reinterpret_cast<const uint8_t*>("\x1F\x8B\x08"), 3, out));
        EXPECT_EQ(reading.KeptHeaderLength(), 3u);
    }
}

// ---- inflate chunk -------------------------------------------------------------------------

TEST(InflateChunk, ReturnsBufErrorUntilTheEndThenStreamEnd) {
    const Bytes data = CompressibleBytes(300000, 13);
    const Bytes compressed = CompressLikeThePass(CompressionFormat::kZlib, data, 128000);
    CompressionStream stream;
    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kZlib), Z_OK);
    Buffer in, out;
    const size_t half = compressed.size() / 2;
    Fill(in, compressed.data(), half);
    EXPECT_EQ(stream.InflateChunk(in, out), Z_BUF_ERROR);
    EXPECT_EQ(in.Length(), half) << "the input buffer is left as it is";
    Fill(in, compressed.data() + half, compressed.size() - half);
    EXPECT_EQ(stream.InflateChunk(in, out), Z_STREAM_END);
    EXPECT_TRUE(Content(out) == data);
    EXPECT_EQ(out.Data()[out.Length()], 0);
}

TEST(InflateChunk, BytesAfterTheEndAreNotUsed) {
    const Bytes data = CompressibleBytes(10000, 14);
    const Bytes compressed = Concat(CompressLikeThePass(CompressionFormat::kZlib, data, 128000), RandomBytes(100, 15));
    const InflateOutcome back = InflateInPieces(CompressionFormat::kZlib, compressed, compressed.size());
    EXPECT_TRUE(back.ended);
    EXPECT_TRUE(back.data == data);
}

void ExpectInflateFailure(const Bytes& corrupt, const char* what) {
    SCOPED_TRACE(what);
    CompressionStream stream;
    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kZlib), Z_OK);
    Buffer in, out;
    Fill(in, corrupt.data(), corrupt.size());
    const int result = stream.InflateChunk(in, out);
    EXPECT_NE(result, Z_OK);
    EXPECT_NE(result, Z_STREAM_END);
    EXPECT_NE(result, Z_BUF_ERROR);
    // Later chunks keep failing: the data is bad for good.
    const int again = stream.InflateChunk(in, out);
    EXPECT_TRUE(again != Z_OK && again != Z_STREAM_END && again != Z_BUF_ERROR) << again;
}

TEST(InflateChunk, CorruptedDataIsAnError) {
    const Bytes data = CompressibleBytes(50000, 16);
    const Bytes good = CompressLikeThePass(CompressionFormat::kZlib, data, 128000);
    Bytes header = good;
    header[0] = 0x79;  // window/method byte no longer passes the header check
    ExpectInflateFailure(header, "bad zlib header");
    Bytes adler = good;
    adler.back() ^= 0x01;
    ExpectInflateFailure(adler, "altered Adler-32");
    Bytes body = {0x78, 0xDA};
    body.insert(body.end(), 64, 0xFF);  // BFINAL=1, BTYPE=11: a reserved block type
    ExpectInflateFailure(body, "invalid block type");
    Bytes dictionary = {0x78, 0xBB, 0, 0, 0, 1};  // FDICT set: Z_NEED_DICT, a failure too
    ExpectInflateFailure(dictionary, "preset dictionary");
    Bytes stored = good;
    stored = {0x78, 0xDA, 0x01, 0x05, 0x00, 0x00, 0x00};  // stored block whose LEN/NLEN disagree
    ExpectInflateFailure(stored, "stored block length check");
}

TEST(InflateChunk, RandomDataNeverCrashes) {
    std::mt19937 rng(17);
    int ended = 0;
    for (int i = 0; i < 2000; ++i) {
        Bytes junk = RandomBytes(rng() % 600, rng());
        if (i % 2 && junk.size() >= 2) junk[0] = 0x78, junk[1] = 0xDA;  // get past the zlib header
        CompressionStream stream;
        ASSERT_EQ(stream.OpenInflate(CompressionFormat::kZlib), Z_OK);
        Buffer in, out;
        Fill(in, junk.data(), junk.size());
        const int result = stream.InflateChunk(in, out);
        EXPECT_NE(result, Z_OK);
        if (result == Z_STREAM_END) ++ended;
    }
    EXPECT_LT(ended, 50);
}

// ---- gzip header parser --------------------------------------------------------------------

TEST(GzipHeader, TheProgramsOwnHeader) {
    const Bytes h = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0};
    size_t length = 0;
    EXPECT_EQ(ParseGzipHeader(h.data(), h.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 10u);
    for (size_t n = 0; n < 10; ++n) EXPECT_EQ(ParseGzipHeader(h.data(), n, &length), GzipHeaderStatus::kIncomplete);
    EXPECT_EQ(ParseGzipHeader(nullptr, 0, &length), GzipHeaderStatus::kIncomplete);
}

TEST(GzipHeader, EveryOptionalField) {
    const Bytes h = FullHeader();
    size_t length = 0;
    ASSERT_EQ(ParseGzipHeader(h.data(), h.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, h.size());
    const Bytes with_data = Concat(h, {1, 2, 3});
    ASSERT_EQ(ParseGzipHeader(with_data.data(), with_data.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, h.size());
}

TEST(GzipHeader, NameIsReadAfterTheExtraField) {
    // The extra field holds a zero byte; a parser that read the name at offset 12 would stop early.
    const Bytes h = Header(0x0C, {0x03, 0x00, 'x', 0x00, 'y', 'n', 'a', 'm', 'e', 0x00});
    size_t length = 0;
    ASSERT_EQ(ParseGzipHeader(h.data(), h.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, h.size());
    // Without the name's terminator the header is incomplete, whatever the extra field holds.
    EXPECT_EQ(ParseGzipHeader(h.data(), h.size() - 1, &length), GzipHeaderStatus::kIncomplete);
}

TEST(GzipHeader, SingleFields) {
    size_t length = 0;
    const Bytes extra = Header(0x04, {0x00, 0x00});  // empty extra field
    EXPECT_EQ(ParseGzipHeader(extra.data(), extra.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 12u);
    const Bytes big_extra = Concat(Header(0x04, {0xFF, 0xFF}), Bytes(65535, 0x11));
    EXPECT_EQ(ParseGzipHeader(big_extra.data(), big_extra.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 12u + 65535u);
    EXPECT_EQ(ParseGzipHeader(big_extra.data(), big_extra.size() - 1, &length), GzipHeaderStatus::kIncomplete);
    const Bytes comment = Header(0x10, {'h', 'i', 0});
    EXPECT_EQ(ParseGzipHeader(comment.data(), comment.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 13u);
    const Bytes hcrc = Header(0x02, {0x12, 0x34});
    EXPECT_EQ(ParseGzipHeader(hcrc.data(), hcrc.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(ParseGzipHeader(hcrc.data(), 11, &length), GzipHeaderStatus::kIncomplete);
    const Bytes ftext = Header(0x01, {});
    EXPECT_EQ(ParseGzipHeader(ftext.data(), ftext.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 10u);
    const Bytes comment_then_hcrc = Header(0x12, {'c', 0, 0xAA, 0xBB});
    EXPECT_EQ(ParseGzipHeader(comment_then_hcrc.data(), comment_then_hcrc.size(), &length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(length, 14u);
}

TEST(GzipHeader, ReservedFlagsAndWrongIdentificationAreInvalid) {
    size_t length = 77;
    for (const uint8_t bit : {0x20, 0x40, 0x80}) {
        const Bytes h = Header(bit, {});
        EXPECT_EQ(ParseGzipHeader(h.data(), h.size(), &length), GzipHeaderStatus::kInvalid) << int(bit);
    }
    for (const auto& start : {Bytes{0x1F, 0x8B, 0x07}, Bytes{0x1F, 0x8C, 0x08}, Bytes{0x1E, 0x8B, 0x08}, Bytes{0x78, 0xDA, 0x08}}) {
        Bytes h = Header(0, {});
        std::copy(start.begin(), start.end(), h.begin());
        EXPECT_EQ(ParseGzipHeader(h.data(), h.size(), &length), GzipHeaderStatus::kInvalid);
    }
    EXPECT_EQ(length, 77u) << "only a complete header reports a length";
}

TEST(GzipHeader, EveryTruncationIsIncompleteAndReadsNothingPastTheEnd) {
    GuardedRegion region(1 << 17);
    ASSERT_TRUE(region.Ok());
    for (const Bytes& header : {FullHeader(), Header(0x0C, {0x03, 0x00, 'x', 0x00, 'y', 'n', 0}),
                                Concat(Header(0x04, {0xFF, 0xFF}), Bytes(65535, 0))}) {
        for (size_t n = 0; n < header.size(); ++n) {
            size_t length = 0;
            const uint8_t* at = region.Place(header.data(), n);
            ASSERT_EQ(ParseGzipHeader(at, n, &length), GzipHeaderStatus::kIncomplete) << n;
        }
        size_t length = 0;
        const uint8_t* at = region.Place(header.data(), header.size());
        ASSERT_EQ(ParseGzipHeader(at, header.size(), &length), GzipHeaderStatus::kComplete);
        EXPECT_EQ(length, header.size());
    }
}

TEST(GzipHeader, RandomBytesNeverReadPastTheEnd) {
    GuardedRegion region(4096);
    ASSERT_TRUE(region.Ok());
    std::mt19937 rng(18);
    int complete = 0;
    for (int i = 0; i < 5000; ++i) {
        Bytes bytes = RandomBytes(rng() % 80, rng());
        if (i % 4 != 0 && bytes.size() >= 3) bytes[0] = 0x1F, bytes[1] = 0x8B, bytes[2] = 0x08;  // reach the fields
        if (i % 2 == 0 && bytes.size() >= 4) bytes[3] &= 0x1F;                                   // valid flags
        if (i % 3 == 0 && bytes.size() >= 12) bytes[11] = 0;                                      // short XLEN
        size_t length = 0;
        const uint8_t* at = region.Place(bytes.data(), bytes.size());
        const GzipHeaderStatus status = ParseGzipHeader(at, bytes.size(), &length);
        if (status == GzipHeaderStatus::kComplete) {
            ++complete;
            ASSERT_GE(length, 10u);
            ASSERT_LE(length, bytes.size());
            // A complete header stays complete, with the same length, whatever follows it.
            const Bytes longer = Concat(bytes, RandomBytes(5, i));
            size_t again = 0;
            ASSERT_EQ(ParseGzipHeader(longer.data(), longer.size(), &again), GzipHeaderStatus::kComplete);
            ASSERT_EQ(again, length);
        }
    }
    EXPECT_GT(complete, 100);
}

// ---- gzip reader ---------------------------------------------------------------------------

Bytes GzipMember(const Bytes& header, const Bytes& data) { return Concat(Concat(header, RawDeflate(data)), Trailer(data)); }

TEST(GzipReader, HeaderInTwoPiecesSixBytesThenTheRest) {
    const Bytes data = CompressibleBytes(20000, 19);
    const Bytes member = CompressLikeThePass(CompressionFormat::kGzip, data, 128000);
    CompressionStream stream;
    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
    EXPECT_EQ(stream.GzipReaderState(), 1u);
    Buffer out;
    ASSERT_TRUE(stream.GzipFeed(member.data(), 6, out));
    EXPECT_EQ(out.Length(), 0u);
    EXPECT_EQ(stream.GzipReaderState(), 2u);
    EXPECT_EQ(stream.KeptHeaderLength(), 6u);
    ASSERT_TRUE(stream.GzipFeed(member.data() + 6, static_cast<uint32_t>(member.size() - 6), out));
    EXPECT_EQ(stream.GzipReaderState(), 3u);
    EXPECT_EQ(stream.KeptHeaderLength(), 0u);
    EXPECT_TRUE(stream.GzipDataEnded());
    EXPECT_TRUE(Content(out) == data);
}

TEST(GzipReader, HeaderEndingExactlyAtAPieceBoundary) {
    const Bytes data = CompressibleBytes(5000, 20);
    const Bytes header = FullHeader();
    const Bytes member = GzipMember(header, data);
    CompressionStream stream;
    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
    Buffer out;
    ASSERT_TRUE(stream.GzipFeed(member.data(), 5, out));
    ASSERT_TRUE(stream.GzipFeed(member.data() + 5, static_cast<uint32_t>(header.size() - 5), out));
    EXPECT_EQ(stream.GzipReaderState(), 3u) << "the header completed with nothing after it";
    EXPECT_EQ(out.Length(), 0u);
    ASSERT_TRUE(stream.GzipFeed(member.data() + header.size(), static_cast<uint32_t>(member.size() - header.size()), out));
    EXPECT_TRUE(stream.GzipDataEnded());
    EXPECT_TRUE(Content(out) == data);
}

TEST(GzipReader, OneBytePerFeed) {
    const Bytes data = CompressibleBytes(30000, 21);
    for (const Bytes& header : {Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0}, FullHeader()}) {
        const Bytes member = GzipMember(header, data);
        CompressionStream stream;
        ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
        Buffer out;
        size_t i = 0;
        for (; i < member.size() && !stream.GzipDataEnded(); ++i) {
            ASSERT_TRUE(stream.GzipFeed(&member[i], 1, out)) << "byte " << i;
            if (i + 1 < header.size()) {
                EXPECT_EQ(stream.GzipReaderState(), 2u);
                EXPECT_EQ(stream.KeptHeaderLength(), i + 1);
                EXPECT_EQ(out.Length(), 0u);
            }
        }
        EXPECT_TRUE(stream.GzipDataEnded());
        EXPECT_EQ(i + ombrix::kGzipTrailerLength, member.size()) << "the data ends before the trailer";
        EXPECT_TRUE(Content(out) == data);
        EXPECT_FALSE(stream.GzipFeed(&member[i], 1, out)) << "a feed after the end fails";
    }
}

TEST(GzipReader, ExtraFieldAndNameBeforeTheData) {
    const Bytes data = CompressibleBytes(70000, 22);
    const Bytes header = Header(0x0C, {0x05, 0x00, 'A', 0x00, 'B', 0x00, 'C', 'n', 'a', 'm', 'e', '.', 'b', 'i', 'n', 0x00});
    const Bytes member = GzipMember(header, data);
    for (const size_t piece : {size_t{3}, size_t{17}, member.size()}) {
        const InflateOutcome back = InflateInPieces(CompressionFormat::kGzip, member, piece);
        EXPECT_FALSE(back.failed) << piece;
        EXPECT_TRUE(back.ended) << piece;
        EXPECT_TRUE(back.data == data) << piece;
    }
}

TEST(GzipReader, CommentAndHeaderCrc) {
    const Bytes data = RandomBytes(3000, 23);
    for (const Bytes& header : {Header(0x12, {'c', 'o', 0, 0x55, 0x66}), FullHeader()}) {
        const InflateOutcome back = InflateInPieces(CompressionFormat::kGzip, GzipMember(header, data), 1000);
        EXPECT_TRUE(back.ended);
        EXPECT_TRUE(back.data == data);
    }
}

TEST(GzipReader, InvalidHeadersFailAndLaterFeedsToo) {
    const Bytes data = CompressibleBytes(1000, 24);
    for (const uint8_t first_piece : {uint8_t{0}, uint8_t{4}}) {  // whole, or header kept first
        for (const Bytes& header : {Header(0x20, {}), Header(0x80, {}), Bytes{0x1F, 0x8B, 0x07, 0, 0, 0, 0, 0, 0, 0},
                                    Bytes{0x78, 0xDA, 0x08, 0, 0, 0, 0, 0, 0, 0}}) {
            const Bytes member = GzipMember(header, data);
            CompressionStream stream;
            ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
            Buffer out;
            if (first_piece) {
                ASSERT_TRUE(stream.GzipFeed(member.data(), first_piece, out));
            }
            EXPECT_FALSE(stream.GzipFeed(member.data() + first_piece, static_cast<uint32_t>(member.size() - first_piece), out));
            EXPECT_EQ(stream.KeptHeaderLength(), 0u) << "kept bytes are discarded";
            EXPECT_EQ(out.Length(), 0u);
            EXPECT_FALSE(stream.GzipFeed(member.data(), static_cast<uint32_t>(member.size()), out));
        }
    }
}

TEST(GzipReader, TrailerAndBytesAfterTheEndInTheSamePieceAreIgnored) {
    const Bytes data = CompressibleBytes(100000, 25);
    const Bytes member = Concat(CompressLikeThePass(CompressionFormat::kGzip, data, 128000), RandomBytes(1000, 26));
    CompressionStream stream;
    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
    Buffer out;
    ASSERT_TRUE(stream.GzipFeed(member.data(), static_cast<uint32_t>(member.size()), out));
    EXPECT_TRUE(stream.GzipDataEnded());
    EXPECT_FALSE(stream.IsOpen()) << "the stream is ended as soon as the data ends";
    EXPECT_TRUE(Content(out) == data);
    EXPECT_FALSE(stream.GzipFeed(member.data(), 10, out)) << "a feed after the end fails";
    Buffer empty;
    EXPECT_FALSE(stream.GzipFeed(empty, out));
    EXPECT_TRUE(Content(out) == data);
    EXPECT_EQ(stream.End(), Z_OK);
}

TEST(GzipReader, TrailerInALaterPieceFails) {
    // What the decryption pass meets when the trailer arrives in a piece of its own.
    const Bytes data = CompressibleBytes(1000, 27);
    const Bytes member = CompressLikeThePass(CompressionFormat::kGzip, data, 128000);
    CompressionStream stream;
    ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
    Buffer out;
    ASSERT_TRUE(stream.GzipFeed(member.data(), static_cast<uint32_t>(member.size() - 8), out));
    EXPECT_TRUE(stream.GzipDataEnded());
    EXPECT_FALSE(stream.GzipFeed(member.data() + member.size() - 8, 8, out));
    EXPECT_TRUE(Content(out) == data);
}

TEST(GzipReader, LargeOutputSpansManyWindows) {
    const Bytes data = Bytes(3 << 20, 'z');  // ~3 KiB compressed, 48 windows of 65536 bytes out
    const Bytes member = CompressLikeThePass(CompressionFormat::kGzip, data, 128000);
    const InflateOutcome back = InflateInPieces(CompressionFormat::kGzip, member, member.size());
    EXPECT_TRUE(back.ended);
    EXPECT_TRUE(back.data == data);
}

TEST(GzipReader, CorruptedDeflateDataFails) {
    const Bytes data = CompressibleBytes(50000, 28);
    Bytes member = CompressLikeThePass(CompressionFormat::kGzip, data, 128000);
    Bytes bad = member;
    std::fill(bad.begin() + 10, bad.begin() + 30, 0xFF);
    EXPECT_TRUE(InflateInPieces(CompressionFormat::kGzip, bad, 4096).failed);
    Bytes stored = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x05, 0x00, 0x00, 0x00};  // LEN/NLEN disagree
    EXPECT_TRUE(InflateInPieces(CompressionFormat::kGzip, stored, 4096).failed);
}

TEST(GzipReader, TruncatedStreamsNeverCrash) {
    const Bytes data = CompressibleBytes(4000, 29);
    const Bytes member = GzipMember(FullHeader(), data);
    GuardedRegion region(member.size());
    ASSERT_TRUE(region.Ok());
    for (size_t n = 0; n <= member.size(); ++n) {
        CompressionStream stream;
        ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
        Buffer out;
        const uint8_t* at = region.Place(member.data(), n);
        ASSERT_TRUE(stream.GzipFeed(at, static_cast<uint32_t>(n), out)) << n;  // a prefix is never an error
        ASSERT_LE(out.Length(), data.size());
        ASSERT_TRUE(std::equal(out.Data(), out.Data() + out.Length(), data.begin())) << n;
        ASSERT_EQ(stream.GzipReaderState(), n < FullHeader().size() ? 2u : 3u) << n;
    }
}

TEST(GzipReader, RandomPiecesNeverCrash) {
    GuardedRegion region(4096);
    ASSERT_TRUE(region.Ok());
    std::mt19937 rng(30);
    const Bytes valid = GzipMember(FullHeader(), CompressibleBytes(2000, 31));
    for (int i = 0; i < 3000; ++i) {
        CompressionStream stream;
        ASSERT_EQ(stream.OpenInflate(CompressionFormat::kGzip), Z_OK);
        Buffer out;
        Bytes bytes;
        if (i % 3 == 0) {
            bytes = RandomBytes(rng() % 200, rng());
        } else {  // a valid stream with random bytes overwritten
            bytes = valid;
            for (int k = 0, m = 1 + rng() % 4; k < m; ++k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
            if (i % 3 == 2) bytes.resize(rng() % bytes.size());
        }
        size_t offset = 0;
        while (offset < bytes.size()) {
            const size_t n = std::min<size_t>(1 + rng() % 300, bytes.size() - offset);
            const uint8_t* at = region.Place(bytes.data() + offset, n);
            offset += n;
            if (!stream.GzipFeed(at, static_cast<uint32_t>(n), out)) break;
        }
        ASSERT_LE(out.Length(), 1u << 20);
    }
}

// ---- the gzip command ----------------------------------------------------------------------

#ifdef COMPRESSION_DATA_DIR
Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

TEST(GzipCommand, ReaderReadsWhatGzipWrote) {
    const std::string dir = COMPRESSION_DATA_DIR;
    const Bytes input = ReadFile(dir + "/gzip_input.bin");
    const Bytes gz = ReadFile(dir + "/gzip_input.bin.gz");
    ASSERT_EQ(input.size(), 300000u) << "test data missing in " << dir;
    ASSERT_GT(gz.size(), 18u);
    ASSERT_EQ(gz[3] & 0x08, 0x08) << "gzip stored the file name";
    size_t header_length = 0;
    ASSERT_EQ(ParseGzipHeader(gz.data(), gz.size(), &header_length), GzipHeaderStatus::kComplete);
    EXPECT_EQ(header_length, 10u + sizeof "gzip_input.bin");
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, size_t{128000}, gz.size()}) {
        const InflateOutcome back = InflateInPieces(CompressionFormat::kGzip, gz, piece);
        EXPECT_FALSE(back.failed) << piece;
        EXPECT_TRUE(back.ended) << piece;
        EXPECT_TRUE(back.data == input) << piece;
    }
    const Bytes empty_gz = ReadFile(dir + "/empty.bin.gz");
    ASSERT_GT(empty_gz.size(), 18u);
    const InflateOutcome empty = InflateInPieces(CompressionFormat::kGzip, empty_gz, empty_gz.size());
    EXPECT_TRUE(empty.ended);
    EXPECT_TRUE(empty.data.empty());
}

// Writes the program's gzip framing of 1 MiB for `gzip -t` and `gzip -dc | cmp` (the ctest
// entry crypto_compression_gzip_check).
TEST(GzipCommand, WriteTheProgramsGzipFileForGzipToCheck) {
    const std::string dir = COMPRESSION_DATA_DIR;
    const Bytes input = Concat(CompressibleBytes(600000, 32), RandomBytes(448576, 33));
    const Bytes member = CompressLikeThePass(CompressionFormat::kGzip, input, 128000);
    ASSERT_EQ(Bytes(member.begin(), member.begin() + 10), (Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0}));
    int result = Z_OK;
    EXPECT_TRUE(Gunzip(member, &result) == input);
    EXPECT_EQ(result, Z_STREAM_END);
    WriteFile(dir + "/program_input.bin", input);
    WriteFile(dir + "/program_output.gz", member);
}
#endif

}  // namespace
