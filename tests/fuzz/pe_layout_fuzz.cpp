// The PE header checks and the hashed-range computation of SignEXE on any bytes, read through a
// blob that delivers short reads. An accepted image's ranges leave out exactly the checksum and
// the certificate-table entry, and its digest input does not depend on the read size.
#include "codesign/pe_image.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

class CountingSink final : public ImageDigestSink {
public:
    void Update(const uint8_t* bytes, uint32_t count) override {
        for (uint32_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
        total += count;
    }
    uint64_t hash = 14695981039346656037ull;
    uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1u << 20) return 0;
    FuzzInput input(data, size);
    const uint32_t max_read = 1 + input.Byte() * 257u;
    const Bytes image = input.Take(input.RestSize());

    MemoryPort port(image, max_read);
    PeLayout layout;
    const int code = ReadPeLayout(port, layout);
    FUZZ_CHECK(code == 0 || code == 30013 || code == 30014);
    if (code != 0) return 0;

    FUZZ_CHECK(layout.size == image.size());
    FUZZ_CHECK(layout.padding >= 1 && layout.padding <= 8 && (layout.size + layout.padding) % 8 == 0);
    FUZZ_CHECK(layout.table_offset == layout.size + layout.padding);
    const auto ranges = HashedRanges(layout);
    FUZZ_CHECK(ranges[0].begin == 0);
    FUZZ_CHECK(ranges[0].end + 4 == ranges[1].begin && ranges[1].begin <= ranges[1].end);
    FUZZ_CHECK(ranges[1].end + 8 == ranges[2].begin && ranges[2].begin <= ranges[2].end);
    FUZZ_CHECK(ranges[2].end == image.size());

    CountingSink short_reads;
    FUZZ_CHECK(DigestHashedRanges(port, layout, short_reads) == 0);
    FUZZ_CHECK(short_reads.total == image.size() - 12 + layout.padding);
    MemoryPort whole(image);
    CountingSink one_read;
    FUZZ_CHECK(DigestHashedRanges(whole, layout, one_read) == 0);
    FUZZ_CHECK(one_read.hash == short_reads.hash);

    // A blob that ends early is a read failure, not a shorter digest.
    MemoryPort cut(Bytes(image.begin(), image.end() - 1), max_read);
    CountingSink cut_sink;
    FUZZ_CHECK(DigestHashedRanges(cut, layout, cut_sink) == 30009);

    // The certificate table around a DER of the image's own tail bytes.
    const uint32_t der_length = static_cast<uint32_t>(std::min<size_t>(image.size(), 3000));
    Buffer table;
    FUZZ_CHECK(BuildCertificateTable(image.data(), der_length, table));
    FUZZ_CHECK(table.Length() % 8 == 0 && table.Length() == der_length + PaddingTo8(der_length) + 8);
    FUZZ_CHECK(memcmp(table.Data() + 8, image.data(), der_length) == 0);
    return 0;
}
