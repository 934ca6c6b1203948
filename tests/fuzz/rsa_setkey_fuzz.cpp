// cryptRSA::SetKey on any key blob and on OpenSSH public-key lines. The first byte picks the form:
// the bytes as a blob, the bytes Base64-encoded behind "ssh-rsa " (which must be taken exactly as
// the blob itself is), or the bytes as raw text behind "ssh-rsa ". A usable small key then signs,
// verifies and encrypts.
#include "text/transform.h"
#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

struct KeyState {
    int32_t accepted;
    bool usable;
    bool has_private;
    int32_t block_size;
};

KeyState Load(cryptRSA& rsa, const Bytes& key) {
    const int32_t accepted = rsa.SetKey(key.data(), static_cast<uint32_t>(key.size()));
    return {accepted, rsa.KeyUsable(), rsa.HasPrivateKey(), rsa.BlockSize()};
}

void Exercise(cryptRSA& rsa, const Bytes& message) {
    uint8_t signature[16] = {1, 2, 3};
    const int32_t verified = rsa.VerifyData(message.data(), static_cast<uint32_t>(message.size()), signature,
                                            sizeof signature, algorithm_type::kRSA);
    FUZZ_CHECK(verified == 0);
    if (rsa.HasPrivateKey()) {
        auto signed_data = rsa.SignData(message.data(), static_cast<uint32_t>(message.size()), algorithm_type::kRSASHA1);
        if (signed_data) FUZZ_CHECK(signed_data->Length() == static_cast<uint32_t>(rsa.BlockSize()));
    }
    Bytes block(static_cast<size_t>(rsa.BlockSize()), 0x5A);
    Bytes out(std::max<size_t>(2 * block.size(), 1024));
    rsa.SetWorkingLength(std::max(1, rsa.BlockSize() - 11));
    rsa.EncryptBlock(block.data(), out.data());
    rsa.DecryptBlock(block.data(), out.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 5000) return 0;
    FuzzInput input(data, size);
    const uint8_t form = input.Byte() % 3;
    const Bytes payload = input.Take(input.RestSize());

    cryptRSA rsa;
    KeyState state{};
    if (form == 0) {
        state = Load(rsa, payload);
    } else if (form == 1) {
        if (payload.empty()) return 0;
        cryptBASE64 base64;
        FUZZ_CHECK(EncodeWithData(base64, payload.data(), static_cast<uint32_t>(payload.size())) == 0);
        Bytes line = {'s', 's', 'h', '-', 'r', 's', 'a', ' '};
        line.insert(line.end(), base64.output.Data(), base64.output.Data() + base64.output.Length());
        line.insert(line.end(), {' ', 'u', '@', 'h'});
        state = Load(rsa, line);
        cryptRSA direct;
        const KeyState expected = Load(direct, payload);
        // A blob that itself starts with "ssh-" takes the text path when given directly.
        if (payload.size() <= 8 || memcmp(payload.data(), "ssh-", 4) != 0) {
            FUZZ_CHECK(state.accepted == expected.accepted && state.usable == expected.usable &&
                       state.has_private == expected.has_private);
            if (state.accepted) FUZZ_CHECK(state.block_size == expected.block_size);
        }
    } else {
        Bytes line = {'s', 's', 'h', '-', 'r', 's', 'a', ' '};
        line.insert(line.end(), payload.begin(), payload.end());
        state = Load(rsa, line);
    }
    if (!state.accepted) {
        FUZZ_CHECK(!rsa.KeyUsable());
        return 0;
    }
    FUZZ_CHECK(state.block_size >= 12 && state.block_size <= cryptRSA::kMaxModulusBits / 8);
    if (state.usable && state.block_size <= 256 && size <= 1200) Exercise(rsa, payload);
    return 0;
}
