// InflateChunk on a zlib stream cut into pieces, against zlib's own inflate of the whole input:
// the same bytes, the end found at the same place, corrupt data refused by both. Streams that
// inflate to more than 256 KiB are compared no further than that, so that each run stays short.
#include <zlib.h>

#include "crypto/compression.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

constexpr size_t kMaxOutput = 256u << 10;

// zlib alone: Z_STREAM_END, Z_BUF_ERROR (input used up before the end) or the failure.
int ZlibInflate(const Bytes& in, Bytes& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return Z_MEM_ERROR;
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    uint8_t window[65536];
    int result = Z_OK;
    for (;;) {
        z.next_out = window;
        z.avail_out = sizeof window;
        result = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), window, window + (sizeof window - z.avail_out));
        if (result != Z_OK) break;
        if (z.avail_in == 0 && z.avail_out != 0) {
            result = Z_BUF_ERROR;
            break;
        }
        if (out.size() > kMaxOutput) break;
    }
    inflateEnd(&z);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 200000) return 0;
    FuzzInput input(data, size);
    const size_t piece = 1 + input.Byte() % 64 * 131;
    const Bytes stream = input.Take(input.RestSize());

    Bytes expected;
    const int zlib_result = ZlibInflate(stream, expected);
    const bool cut = expected.size() > kMaxOutput;

    CompressionStream inflater;
    FUZZ_CHECK(inflater.OpenInflate(CompressionFormat::kZlib) == Z_OK);
    Buffer out;
    int result = Z_BUF_ERROR;
    for (size_t at = 0; at < stream.size(); at += piece) {
        const size_t n = std::min(piece, stream.size() - at);
        result = inflater.InflateChunk(stream.data() + at, static_cast<uint32_t>(n), out);
        if (result != Z_BUF_ERROR && result != Z_OK) break;
        if (out.Length() > kMaxOutput) break;
    }
    const Bytes ours = BufferBytes(out);
    if (cut || ours.size() > kMaxOutput) {
        // Ours goes past the limit only where zlib does; the bytes each has so far agree.
        FUZZ_CHECK(cut);
        const size_t common = std::min(ours.size(), expected.size());
        FUZZ_CHECK(std::equal(ours.begin(), ours.begin() + common, expected.begin()));
        return 0;
    }
    if (result == Z_STREAM_END) {
        FUZZ_CHECK(zlib_result == Z_STREAM_END);
        FUZZ_CHECK(ours == expected);
    } else if (result == Z_BUF_ERROR || result == Z_OK) {
        FUZZ_CHECK(zlib_result == Z_BUF_ERROR);
        FUZZ_CHECK(ours == expected);
    } else {
        // A failure: zlib fails too, and what came before the failing call is a prefix of its output.
        FUZZ_CHECK(zlib_result != Z_STREAM_END && zlib_result != Z_BUF_ERROR);
        FUZZ_CHECK(ours.size() <= expected.size() && std::equal(ours.begin(), ours.end(), expected.begin()));
    }
    return 0;
}
