// The gzip header parser on any bytes, placed at the very end of their own allocation so that
// ASan sees a read past `length`. A complete header of h bytes is complete again on exactly
// h bytes and never complete on fewer; the answer never depends on bytes past the header.
#include <memory>

#include "crypto/compression.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

GzipHeaderStatus Parse(const uint8_t* data, size_t size, size_t* header_length) {
    // An exact-size copy: one byte past it is outside the allocation.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size ? size : 1]);
    if (size) memcpy(copy.get(), data, size);
    return ParseGzipHeader(copy.get(), size, header_length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 70000 * 4) return 0;
    size_t header_length = 12345;
    const GzipHeaderStatus status = Parse(data, size, &header_length);
    if (size < kGzipHeaderLength) FUZZ_CHECK(status == GzipHeaderStatus::kIncomplete);
    if (status != GzipHeaderStatus::kComplete) {
        FUZZ_CHECK(header_length == 12345);
        return 0;
    }
    FUZZ_CHECK(header_length >= kGzipHeaderLength && header_length <= size);
    size_t again = 0;
    FUZZ_CHECK(Parse(data, header_length, &again) == GzipHeaderStatus::kComplete && again == header_length);
    // Cutting the header short is never complete; with every byte there the verdict is invalid
    // or incomplete, never a different length.
    for (size_t cut : {header_length - 1, header_length / 2, size_t{kGzipHeaderLength}}) {
        if (cut >= header_length) continue;
        size_t shorter = 0;
        FUZZ_CHECK(Parse(data, cut, &shorter) != GzipHeaderStatus::kComplete);
    }
    FUZZ_CHECK(ParseGzipHeader(data, size, nullptr) == GzipHeaderStatus::kComplete);
    return 0;
}
