// The Unix crypt(1) rotor machine and the traditional crypt(3) password hash.
#include "crypto/unix_crypt.h"

#include <algorithm>
#include <cstring>

#include "binding/binding.h"

namespace ombrix {

namespace {

// Non-null key schedule marker: tells the passes that there is a cipher to call. Not owned.
const char kNoSchedule[] = "";

// ---- DES tables, 1-based bit numbers as published ----------------------------------------------

constexpr uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

// PC-1, split into the C and D halves.
constexpr uint8_t kPermutedChoice1C[28] = {
    57, 49, 41, 33, 25, 17, 9, 1, 58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3, 60, 52, 44, 36};
constexpr uint8_t kPermutedChoice1D[28] = {
    63, 55, 47, 39, 31, 23, 15, 7, 62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5, 28, 20, 12, 4};

constexpr uint8_t kKeyRotations[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// PC-2 over the 56 bits C followed by D.
constexpr uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  0, 15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5,  3,  8,  4,  1,  14, 8,  13, 6, 2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2,  4,  9,  1,  7,  5,  11, 3, 14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0,  5, 10, 3, 13, 4,  7,  15, 2,
     8,  14, 12, 0,  1,  10, 6,  9,  11, 5, 0,  14, 7,  11, 10, 4, 13, 1,  5,  8,  12, 6,
     9,  3,  2,  15, 13, 8,  10, 1,  3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  13, 7,  0, 9,  3,  4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6,  4,  9,  8,  15, 3,  0,  11, 1, 2,  12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8,  5,  11, 12, 4,  15, 13, 8,  11, 5,  6,  15,
     0,  3,  4,  7, 2,  12, 1,  10, 14, 9, 10, 6,  9,  0,  12, 11, 7,  13, 15, 1,  3,  14,
     5,  2,  8,  4, 3,  15, 0,  6,  10, 1, 13, 8,  9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6, 8,  5,  3,  15, 13, 0, 14, 9,  14, 11, 2,  12, 4, 7,
     13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  4,  2,  1,  11, 10, 13, 7,  8,  15, 9, 12, 5,
     6,  3,  0,  14, 11, 8,  12, 7, 1,  14, 2,  13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, 10, 15, 4,  2,  7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3,  8,  9,  14, 15, 5,  2,  8,  12, 3,  7,  0,  4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9,  5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0,  8, 13, 3,  12, 9,  7,  5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1,  10, 14, 3,  5,  12, 2, 15, 8,  6,  1,  4,  11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0,  5,  9,  2,  6,  11, 13, 8, 1,  4,  10, 7,  9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2,  8,  4,  6,  15, 11, 1,  10, 9, 3,  14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4,  12, 5,  6,  11, 0,  14, 9,  2, 7,  11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3,  5,  8,  2,  1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11}};

constexpr uint8_t kRoundPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// ---- bit-per-byte DES ---------------------------------------------------------------------------

// The 16 round keys from the 64-entry key in tables.block.
void ScheduleRoundKeys(Crypt3Tables& tables) {
    uint8_t c[28], d[28];
    for (int j = 0; j < 28; ++j) {
        c[j] = tables.block[kPermutedChoice1C[j] - 1];
        d[j] = tables.block[kPermutedChoice1D[j] - 1];
    }
    for (int round = 0; round < 16; ++round) {
        for (int r = 0; r < kKeyRotations[round]; ++r) {
            std::rotate(c, c + 1, c + 28);
            std::rotate(d, d + 1, d + 28);
        }
        for (int j = 0; j < 24; ++j) {
            tables.round_keys[round][j] = c[kPermutedChoice2[j] - 1];
            tables.round_keys[round][j + 24] = d[kPermutedChoice2[j + 24] - 29];
        }
    }
    SecureZero(c, sizeof c);
    SecureZero(d, sizeof d);
}

// Encrypts the 64 bits in tables.block in place with the round keys and the (salted) expansion.
void EncryptBits(Crypt3Tables& tables) {
    uint8_t left[32], right[32], expanded[48], sbox_out[32], next[32];
    for (int j = 0; j < 32; ++j) {
        left[j] = tables.block[kInitialPermutation[j] - 1];
        right[j] = tables.block[kInitialPermutation[j + 32] - 1];
    }
    for (int round = 0; round < 16; ++round) {
        for (int j = 0; j < 48; ++j) expanded[j] = right[tables.expansion[j] - 1] ^ tables.round_keys[round][j];
        for (int box = 0; box < 8; ++box) {
            const uint8_t* b = expanded + 6 * box;
            const int row = (b[0] << 1) | b[5];
            const int column = (b[1] << 3) | (b[2] << 2) | (b[3] << 1) | b[4];
            const uint8_t value = kSBoxes[box][16 * row + column];
            for (int k = 0; k < 4; ++k) sbox_out[4 * box + k] = (value >> (3 - k)) & 1;
        }
        for (int j = 0; j < 32; ++j) next[j] = left[j] ^ sbox_out[kRoundPermutation[j] - 1];
        std::memcpy(left, right, 32);
        std::memcpy(right, next, 32);
    }
    // The output is R16 L16 through the final permutation.
    uint8_t preoutput[64];
    std::memcpy(preoutput, right, 32);
    std::memcpy(preoutput + 32, left, 32);
    for (int j = 0; j < 64; ++j) tables.block[j] = preoutput[kFinalPermutation[j] - 1];
    SecureZero(left, sizeof left);
    SecureZero(right, sizeof right);
    SecureZero(expanded, sizeof expanded);
    SecureZero(sbox_out, sizeof sbox_out);
    SecureZero(next, sizeof next);
    SecureZero(preoutput, sizeof preoutput);
}

// As a Windows `char`: the classic code computes with signed characters.
int32_t SignedChar(char c) { return static_cast<signed char>(c); }

// Traditional crypt(3) of the password bytes password[0, min(length, 8)) (a zero byte ends the
// password earlier) with salt[0], salt[1]. Any byte value is accepted as a salt character.
// Writes the 13 characters and a zero into tables.result.
void TraditionalCrypt(const uint8_t* password, uint32_t length, const char salt[2], Crypt3Tables& tables) {
    // Key: the 7 low bits of each of up to 8 characters, most significant first; the eighth
    // (parity) entry of each byte stays 0.
    std::memset(tables.block, 0, sizeof tables.block);
    const uint32_t count = std::min<uint32_t>(length, 8);
    for (uint32_t i = 0; i < count && password[i] != 0; ++i) {
        for (int bit = 0; bit < 7; ++bit) tables.block[8 * i + bit] = (password[i] >> (6 - bit)) & 1;
    }
    ScheduleRoundKeys(tables);
    std::memcpy(tables.expansion, kExpansion, sizeof kExpansion);
    std::memset(tables.block, 0, sizeof tables.block);

    // The salt permutes the expansion table. Characters outside the 64-character alphabet go
    // through the same arithmetic; only the low 6 bits of the value matter, so no lookup can
    // go out of range.
    for (int i = 0; i < 2; ++i) {
        tables.result[i] = salt[i];
        int32_t v = SignedChar(salt[i]);
        if (v > 'Z') v -= 6;
        if (v > '9') v -= 7;
        v -= '.';
        for (int j = 0; j < 6; ++j) {
            if ((v >> j) & 1) std::swap(tables.expansion[6 * i + j], tables.expansion[6 * i + j + 24]);
        }
    }

    for (int i = 0; i < 25; ++i) EncryptBits(tables);

    // 11 groups of 6 bits (the last padded by the two zero entries) in the output alphabet
    // ./0-9A-Za-z.
    for (int i = 0; i < 11; ++i) {
        int c = 0;
        for (int j = 0; j < 6; ++j) c = (c << 1) | tables.block[6 * i + j];
        c += '.';
        if (c > '9') c += 7;
        if (c > 'Z') c += 6;
        tables.result[i + 2] = static_cast<char>(c);
    }
    tables.result[13] = 0;
    if (tables.result[1] == 0) tables.result[1] = tables.result[0];
}

}  // namespace

// ---- crypt(1) -----------------------------------------------------------------------------------

cryptUNIXcrypt::cryptUNIXcrypt() {
    key_size_ = 8;
    block_size_ = 0;
    SetExternalKeySchedule(kNoSchedule);
}

cryptUNIXcrypt::~cryptUNIXcrypt() {
    SecureZero(rotor_, sizeof rotor_);
    SecureZero(inverse_rotor_, sizeof inverse_rotor_);
    SecureZero(reflector_, sizeof reflector_);
    SecureZero(key_hash_, sizeof key_hash_);
}

int32_t cryptUNIXcrypt::ScheduleKey(const uint8_t* key, uint32_t length) {
    // The password: up to 8 key bytes and a zero byte.
    char password[9] = {};
    if (key != nullptr) std::memcpy(password, key, std::min<uint32_t>(length, 8));

    // Key hash: crypt(3) of the password with its own first two characters as the salt. A zero
    // salt character stands for 'A', as in the crypt library the format was defined with; a
    // character the library's salt table does not cover (0x80 and above) is taken as 'A' too,
    // so the library never refuses the salt.
    char salt[2];
    for (int i = 0; i < 2; ++i) {
        const auto c = static_cast<uint8_t>(password[i]);
        salt[i] = (c == 0 || c >= 0x80) ? 'A' : password[i];
    }
    const char salt_string[3] = {salt[0], salt[1], 0};
    const char* hash = Crypto().DES_crypt(password, salt_string);
    if (hash != nullptr && std::strlen(hash) == 13) {
        std::memcpy(key_hash_, hash, 13);
    } else {
        // A library that refuses anyway: the program's own crypt(3) gives the same string.
        Crypt3Tables tables{};
        TraditionalCrypt(reinterpret_cast<const uint8_t*>(password), 8, salt, tables);
        std::memcpy(key_hash_, tables.result, 13);
        SecureZero(&tables, sizeof tables);
    }
    key_hash_[13] = 0;
    SecureZero(password, sizeof password);

    // Seed arithmetic is 32-bit signed with wrap-around: computed in uint32_t, where wrapping
    // is defined, and read back as signed where the sign matters (the remainder).
    uint32_t seed = 123;
    for (uint32_t i = 0; i < 13; ++i) seed = seed * static_cast<uint32_t>(SignedChar(key_hash_[i])) + i;

    // Rotor: a shuffle of 0..255. Reflector: a pairing of all 256 values, 0 marking an unpaired
    // value while it is built (so a re-key starts from a clear reflector).
    for (int i = 0; i < 256; ++i) rotor_[i] = static_cast<uint8_t>(i);
    std::memset(reflector_, 0, sizeof reflector_);
    for (int i = 0; i < 256; ++i) {
        seed = 5 * seed + static_cast<uint32_t>(SignedChar(key_hash_[i % 13]));
        const auto random = static_cast<uint32_t>(static_cast<int32_t>(seed) % 65521);  // C remainder
        const int k = 255 - i;
        int ic = static_cast<int>((random & 0xFF) % static_cast<uint32_t>(k + 1));
        std::swap(rotor_[k], rotor_[ic]);
        if (reflector_[k] != 0) continue;
        // Values are paired two at a time, so an unpaired k here is never 0 and some value
        // below k is still unpaired: the search ends.
        ic = static_cast<int>(((random >> 8) & 0xFF) % static_cast<uint32_t>(k));
        while (reflector_[ic] != 0) ic = (ic + 1) % k;
        reflector_[k] = static_cast<uint8_t>(ic);
        reflector_[ic] = static_cast<uint8_t>(k);
    }
    for (int i = 0; i < 256; ++i) inverse_rotor_[rotor_[i]] = static_cast<uint8_t>(i);
    // The positions are not reset: they run on from wherever the object left them.
    return 1;
}

int32_t cryptUNIXcrypt::EncryptBlock(const uint8_t* in, uint8_t* out) {
    const int32_t length = WorkingLength();
    for (int32_t n = 0; n < length; ++n) {
        const uint32_t p = first_position_, q = second_position_;
        const uint8_t reflected = reflector_[(rotor_[(in[n] + p) & 0xFF] + q) & 0xFF];
        out[n] = static_cast<uint8_t>(inverse_rotor_[(reflected - q) & 0xFF] - p);
        // One step of the first position; the second steps each time the first wraps.
        if (++first_position_ == 256) {
            first_position_ = 0;
            second_position_ = (second_position_ + 1) & 0xFF;
        }
    }
    return 1;
}

// ---- crypt(3) -----------------------------------------------------------------------------------

cryptUNIXcrypt3::cryptUNIXcrypt3() {
    key_size_ = 8;
    block_size_ = 0;
    SetExternalKeySchedule(kNoSchedule);
}

cryptUNIXcrypt3::~cryptUNIXcrypt3() {
    SecureZero(&tables_, sizeof tables_);
    SecureZero(salt_, sizeof salt_);
}

int32_t cryptUNIXcrypt3::ScheduleKey(const uint8_t* key, uint32_t length) {
    std::memset(salt_, 0, sizeof salt_);
    if (key != nullptr) std::memcpy(salt_, key, length <= 3 ? length : 2);
    return 1;
}

int32_t cryptUNIXcrypt3::EncryptBlock(const uint8_t* in, uint8_t* out) {
    // The password is the text at `in`, bounded by the working length as well as by its zero
    // byte: the block is not guaranteed to be zero-terminated.
    const int32_t length = WorkingLength();
    TraditionalCrypt(in, static_cast<uint32_t>(std::max(length, 0)), salt_, tables_);
    std::memcpy(out, tables_.result, 13);
    // The rest of a longer block is zero rather than stale buffer content (a Decrypt emits the
    // input piece's length of output).
    if (length > 13) std::memset(out + 13, 0, static_cast<size_t>(length - 13));
    // The hash always has 13 characters, even when the salt holds a zero byte.
    SetWorkingLength(13);
    return 0;
}

}  // namespace ombrix
