// Faults found by the fuzz targets, replayed in the native and the Wine suites alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/algorithm_factory.h"
#include "crypto/algorithm_types.h"
#include "crypto/blob_port.h"
#include "crypto/symmetric.h"
#include "../memory_port.h"
#include "../pass_owner.h"
#include "../test_bytes.h"

namespace ombrix {
namespace {

namespace at = algorithm_type;
using test::Bytes;
using TrickleBlob = testing_blobs::MemoryPort;
using testing_passes::TestOwner;

struct Outcome {
    Status code;
    Bytes output;
};

Outcome RunPass(bool encrypt, int32_t type, TestOwner& settings, const Bytes& input, uint32_t max_read) {
    auto cipher = CreateSymmetric(type);
    EXPECT_TRUE(cipher);
    if (!cipher) return {Status::Code(-1), {}};
    cipher->SetOwner(&settings);
    const Bytes key(25, 0x39);
    if (type != at::kNone) {
        EXPECT_NE(cipher->SetKey(key.data(), static_cast<uint32_t>(key.size())), 0);
    }
    settings.SetIv({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 16);
    TrickleBlob in(input, max_read), out({}, UINT32_MAX);
    const Status code = encrypt ? cipher->RawEncrypt(in, out, false, nullptr) : cipher->RawDecrypt(in, out, 0, nullptr);
    return {code, out.data};
}

// Found by the RawEncrypt/RawDecrypt round trip: a blob whose reads deliver fewer bytes than one
// cipher block (an IStream over a pipe, say) made RawDecrypt treat the part it had as a whole
// piece, so the result was garbage reported as success, or a decompression failure. Every read
// size must give the result of one whole read.
TEST(FuzzRegression, DecryptionWithReadsShorterThanABlock) {
    const int32_t types[] = {at::kDES, at::kAES256, at::kBlowfish, at::kRC2, at::kRC4, at::kRC5, at::kNone};
    Bytes plain(280, 0);
    memcpy(plain.data(), "The quick brown fox", 19);
    for (int32_t type : types) {
        for (int32_t mode : {at::kModeECB, at::kModeCBC, at::kModeCFB, at::kModeOFB}) {
            for (int32_t compression : {at::kNoCompression, at::kZlibCompression, at::kGZipCompression}) {
                for (int32_t padding : {at::kPadNull, at::kPadPKCS7}) {
                    TestOwner settings;
                    settings.mode = mode, settings.padding = padding, settings.compression = compression;
                    settings.log_enabled = false;
                    const Outcome encrypted = RunPass(true, type, settings, plain, UINT32_MAX);
                    ASSERT_EQ(encrypted.code, Status::Ok());
                    const Outcome whole = RunPass(false, type, settings, encrypted.output, UINT32_MAX);
                    ASSERT_EQ(whole.code, Status::Ok());
                    ASSERT_GE(whole.output.size(), plain.size());
                    ASSERT_TRUE(std::equal(plain.begin(), plain.end(), whole.output.begin()));
                    for (uint32_t max_read : {1u, 3u, 8u, 15u}) {
                        const Outcome trickled = RunPass(false, type, settings, encrypted.output, max_read);
                        EXPECT_EQ(trickled.code, Status::Ok()) << type << " " << mode << " " << compression << " " << padding << " " << max_read;
                        EXPECT_EQ(trickled.output, whole.output)
                            << type << " " << mode << " " << compression << " " << padding << " " << max_read;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace ombrix
