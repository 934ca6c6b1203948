// The settings a pass reads from its control, taken from the front of a fuzz input.
#pragma once

#include "crypto/algorithm_factory.h"
#include "crypto/algorithm_types.h"
#include "crypto/symmetric.h"
#include "fuzz_util.h"
#include "../pass_owner.h"

namespace ombrix::fuzz {

// Every symmetric Type and None.
inline constexpr int32_t kSymmetricTypes[] = {
    algorithm_type::kDES,      algorithm_type::kTripleDES, algorithm_type::kAES,        algorithm_type::kAES192,
    algorithm_type::kAES256,   algorithm_type::kBlowfish,  algorithm_type::kCast,       algorithm_type::kRC2,
    algorithm_type::kRC4,      algorithm_type::kRC5,       algorithm_type::kUNIXcrypt,  algorithm_type::kUNIXcrypt3,
    algorithm_type::kNone};

using testing_passes::TestOwner;

// Type, mode, padding, compression, key and IV from the front of the input.
struct CipherSettings {
    int32_t type;
    Bytes key;
    Bytes iv;
    uint32_t max_read;
};

inline CipherSettings ReadSettings(FuzzInput& input, TestOwner& owner) {
    CipherSettings settings;
    settings.type = kSymmetricTypes[input.Byte() % std::size(kSymmetricTypes)];
    const uint8_t modes = input.Byte();
    owner.mode = modes & 3;
    owner.padding = (modes >> 2) & 3;
    owner.compression = ((modes >> 4) & 3) % 3;
    owner.log_enabled = (modes & 0x40) != 0;
    // The control refuses an empty key for every Type but None and gives None none.
    const uint8_t key_length = input.Byte();
    if (settings.type != algorithm_type::kNone) settings.key = input.Take(1 + key_length % 56);
    settings.iv = input.Take(16);
    settings.iv.resize(16, 0);
    settings.max_read = 1 + input.Byte() * 61u;
    return settings;
}

inline std::unique_ptr<cryptSYMMETRIC> KeyedCipher(const CipherSettings& settings, TestOwner& owner) {
    auto cipher = CreateSymmetric(settings.type);
    FUZZ_CHECK(cipher != nullptr);
    cipher->SetOwner(&owner);
    if (!settings.key.empty() && cipher->SetKey(settings.key.data(), static_cast<uint32_t>(settings.key.size())) == 0)
        return nullptr;
    owner.SetIv(settings.iv, static_cast<uint32_t>(settings.iv.size()));
    return cipher;
}

}  // namespace ombrix::fuzz
