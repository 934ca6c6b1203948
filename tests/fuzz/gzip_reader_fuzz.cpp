// The gzip reader fed a stream in pieces whose sizes come from the first input byte. The output
// does not depend on how the stream was cut; when the reader reaches the end of the deflate data,
// zlib's own raw inflate of the bytes after the header yields the same bytes.
#include <zlib.h>

#include "crypto/compression.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

constexpr size_t kMaxOutput = 8u << 20;

struct ReaderResult {
    bool ok = true;
    bool ended = false;
    Bytes output;
};

ReaderResult Read(const Bytes& stream, size_t piece) {
    ReaderResult result;
    CompressionStream reader;
    FUZZ_CHECK(reader.OpenInflate(CompressionFormat::kGzip) == Z_OK);
    Buffer out;
    for (size_t at = 0; at < stream.size() && result.ok; at += piece) {
        const size_t n = std::min(piece, stream.size() - at);
        result.ok = reader.GzipFeed(stream.data() + at, static_cast<uint32_t>(n), out);
        if (out.Length() > kMaxOutput) break;
        if (reader.GzipDataEnded()) {
            result.ended = true;
            break;
        }
    }
    result.output = BufferBytes(out);
    return result;
}

// zlib's raw inflate of `data`; true when the deflate data ends within it.
bool ZlibRawInflate(const uint8_t* data, size_t size, Bytes& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(size);
    uint8_t window[65536];
    int result = Z_OK;
    while (result == Z_OK && out.size() <= kMaxOutput) {
        z.next_out = window;
        z.avail_out = sizeof window;
        result = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), window, window + (sizeof window - z.avail_out));
        if (result == Z_BUF_ERROR || (result == Z_OK && z.avail_in == 0 && z.avail_out != 0)) break;
    }
    inflateEnd(&z);
    return result == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 200000) return 0;
    FuzzInput input(data, size);
    const size_t piece = 1 + input.Byte() % 64 * 97;
    const Bytes stream = input.Take(input.RestSize());

    const ReaderResult whole = Read(stream, stream.size() ? stream.size() : 1);
    if (whole.output.size() > kMaxOutput) return 0;
    const ReaderResult cut = Read(stream, piece);
    FUZZ_CHECK(whole.ok == cut.ok);
    FUZZ_CHECK(whole.ended == cut.ended);
    if (whole.ok) FUZZ_CHECK(whole.output == cut.output);

    if (whole.ended) {
        size_t header_length = 0;
        FUZZ_CHECK(ParseGzipHeader(stream.data(), stream.size(), &header_length) == GzipHeaderStatus::kComplete);
        Bytes expected;
        FUZZ_CHECK(ZlibRawInflate(stream.data() + header_length, stream.size() - header_length, expected));
        FUZZ_CHECK(expected == whole.output);
    }
    return 0;
}
