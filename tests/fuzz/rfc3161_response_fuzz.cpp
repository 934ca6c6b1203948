// The RFC 3161 reply check (TakeToken) on any reply, for an imprint and nonce taken from the
// front of the input. An accepted reply yields a token that is a whole element of the reply, in
// which the imprint and the nonce occur.
#include <algorithm>
#include <string>

#include "codesign/timestamp.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

const AuthenticodeDigest kDigests[] = {AuthenticodeDigest::kSha1, AuthenticodeDigest::kSha256,
                                       AuthenticodeDigest::kSha384, AuthenticodeDigest::kSha512};
const size_t kLengths[] = {20, 32, 48, 64};

bool Contains(const Bytes& haystack, const uint8_t* bytes, size_t length) {
    return std::search(haystack.begin(), haystack.end(), bytes, bytes + length) != haystack.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 100000) return 0;
    FuzzInput input(data, size);
    const int which = input.Byte() % 4;
    const Bytes imprint_bytes = input.Take(kLengths[which]);
    const Bytes nonce = input.Take(8);
    if (nonce.size() != 8) return 0;
    Buffer imprint;
    FUZZ_CHECK(imprint.Append(imprint_bytes.data(), static_cast<uint32_t>(imprint_bytes.size())));
    const std::string reply(reinterpret_cast<const char*>(input.Rest()), input.RestSize());

    Buffer token;
    if (!Rfc3161TimestampProtocol::TakeToken(reply, kDigests[which], imprint, nonce.data(), token)) return 0;
    const Bytes taken = BufferBytes(token);
    const Bytes whole(input.Rest(), input.Rest() + input.RestSize());
    FUZZ_CHECK(!taken.empty() && Contains(whole, taken.data(), taken.size()));
    FUZZ_CHECK(Contains(taken, imprint_bytes.data(), imprint_bytes.size()) && Contains(taken, nonce.data(), 8));
    return 0;
}
