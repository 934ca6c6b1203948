// The two classic Unix "crypt" facilities as symmetric algorithms (block size 0: they work on
// the pass's whole working block):
// - cryptUNIXcrypt, the crypt(1) file-encryption command: one rotor with a reflector, keyed from
//   the crypt(3) hash of the key. Its own inverse.
// - cryptUNIXcrypt3, the traditional DES-based crypt(3) password hash: the input is the
//   password, the first two key bytes the salt, the output the 13-character hash.
#pragma once

#include <cstdint>

#include "crypto/symmetric.h"

namespace ombrix {

// Working tables of the program's own bit-per-byte crypt(3).
struct Crypt3Tables {
    uint8_t round_keys[16][48];
    uint8_t expansion[48];  // the standard E table, permuted by the salt
    uint8_t block[66];      // 64 data bits and two zero bits for the last 6-bit output group
    char result[16];        // 13 characters and a terminating zero
};

class cryptUNIXcrypt : public cryptSYMMETRIC {
public:
    cryptUNIXcrypt();
    ~cryptUNIXcrypt() override;

    // Builds the rotor, its inverse and the reflector from the first min(length, 8) key bytes.
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    // Transforms working-length bytes; the rotor positions carry over to the next call.
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override { return EncryptBlock(in, out); }

private:
    uint8_t rotor_[256] = {};
    uint8_t inverse_rotor_[256] = {};
    uint8_t reflector_[256] = {};
    char key_hash_[14] = {};
    uint32_t first_position_ = 0;   // advances with every byte
    uint32_t second_position_ = 0;  // advances each time the first one wraps
};

class cryptUNIXcrypt3 : public cryptSYMMETRIC {
public:
    cryptUNIXcrypt3();
    ~cryptUNIXcrypt3() override;

    // Takes the salt from the first two key bytes (all of them when there are 3 or fewer).
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    // crypt(3) of the zero-terminated text at `in` (at most 8 characters and never past the
    // working length); writes the 13-character hash and sets the working length to 13.
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override { return EncryptBlock(in, out); }

private:
    char salt_[3] = {};
    Crypt3Tables tables_ = {};
};

}  // namespace ombrix
