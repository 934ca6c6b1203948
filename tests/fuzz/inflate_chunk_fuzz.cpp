// InflateChunk on a zlib stream cut into pieces, against zlib's own inflate of the whole input:
// the same bytes, the end found at the same place, corrupt data refused by both. Streams that
// inflate to more than 64 KiB (twice the largest deflate window) are compared no further than
// that, so that each run stays short.
#include <zlib.h>

#include "crypto/compression.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

constexpr size_t kMaxOutput = 64u << 10;

// zlib alone into `out`, stopping once more than kMaxOutput bytes came out: Z_STREAM_END,
// Z_BUF_ERROR (input used up before the end) or the failure.
int ZlibInflate(const uint8_t* in, size_t length, Bytes& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return Z_MEM_ERROR;
    z.next_in = const_cast<uint8_t*>(in);
    z.avail_in = static_cast<uInt>(length);
    out.resize(kMaxOutput + 1);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_OK) result = z.avail_out != 0 ? Z_BUF_ERROR : Z_OK;
    out.resize(out.size() - z.avail_out);
    inflateEnd(&z);
    return result;
}

bool SamePrefix(const Buffer& ours, const Bytes& expected, size_t length) {
    return length <= ours.Length() && length <= expected.size() && memcmp(ours.Data(), expected.data(), length) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small streams still inflate past the bound (deflate reaches 1032:1); larger ones only slow
    // each run, as every piece may be a single byte.
    if (size < 1 || size > 8192) return 0;
    FuzzInput input(data, size);
    // Pieces of 1 to 64 bytes: one call then inflates at most about 66 KB, so a run stops soon
    // after the bound instead of inflating a whole large piece beyond it.
    const size_t piece = 1 + input.Byte() % 64;
    const uint8_t* stream = input.Rest();
    const size_t length = input.RestSize();

    Bytes expected;
    const int zlib_result = ZlibInflate(stream, length, expected);
    const bool cut = expected.size() > kMaxOutput;

    CompressionStream inflater;
    FUZZ_CHECK(inflater.OpenInflate(CompressionFormat::kZlib) == Z_OK);
    Buffer out;
    int result = Z_BUF_ERROR;
    for (size_t at = 0; at < length; at += piece) {
        const size_t n = std::min(piece, length - at);
        result = inflater.InflateChunk(stream + at, static_cast<uint32_t>(n), out);
        if (result != Z_BUF_ERROR && result != Z_OK) break;
        if (out.Length() > kMaxOutput) break;
    }
    if (cut || out.Length() > kMaxOutput) {
        // Ours goes past the limit only where zlib does; the bytes each has so far agree.
        FUZZ_CHECK(cut);
        FUZZ_CHECK(SamePrefix(out, expected, std::min<size_t>(out.Length(), expected.size())));
        return 0;
    }
    if (result == Z_STREAM_END) {
        FUZZ_CHECK(zlib_result == Z_STREAM_END);
        FUZZ_CHECK(out.Length() == expected.size() && SamePrefix(out, expected, expected.size()));
    } else if (result == Z_BUF_ERROR || result == Z_OK) {
        FUZZ_CHECK(zlib_result == Z_BUF_ERROR);
        FUZZ_CHECK(out.Length() == expected.size() && SamePrefix(out, expected, expected.size()));
    } else {
        // A failure: zlib fails too, and what came before the failing call is a prefix of its output.
        FUZZ_CHECK(zlib_result != Z_STREAM_END && zlib_result != Z_BUF_ERROR);
        FUZZ_CHECK(SamePrefix(out, expected, out.Length()));
    }
    return 0;
}
