// The block and stream ciphers. Each fixes its key and block sizes, owns the crypto library's
// key schedule(s) and does one block in each direction; modes, padding and streaming are the
// framework's. All arithmetic runs in the crypto library through the binding table.
#pragma once

#include <memory>

#include "crypto/symmetric.h"

// The crypto library's cipher context, by its structure tag (the library's headers stay out).
struct evp_cipher_ctx_st;

namespace ombrix {

struct CryptoBinding;

// DES, Triple DES and AES through the library's EVP interface, for FIPS mode: with an OpenSSL 3
// library only EVP reaches the FIPS provider (the low-level DES_*/AES_* functions bypass it).
// Keyed once; single blocks go through ECB contexts kept for the key, runs of blocks through a
// context of their own. The library that made the contexts is held until they are freed.
class EvpBlockCipher {
public:
    enum class Algorithm { kDes, kTripleDes, kAes };

    EvpBlockCipher() = default;
    EvpBlockCipher(const EvpBlockCipher&) = delete;
    EvpBlockCipher& operator=(const EvpBlockCipher&) = delete;
    ~EvpBlockCipher() { Reset(); }

    // True while the bound library must run the cipher here: FIPS mode, with its EVP entries.
    static bool Required();
    // Keys both directions: 0, 33018 when the library refuses the cipher (the provider lacks it),
    // 30005 when it refuses the key or cannot make a context.
    int32_t SetKey(Algorithm algorithm, const uint8_t* key, uint32_t key_size, uint32_t block_size);
    bool Keyed() const { return encrypt_ != nullptr; }
    // Blocks in ECB through the kept contexts; false when the library fails them.
    bool Blocks(const uint8_t* in, uint8_t* out, size_t blocks, bool encrypt);
    // `blocks` blocks in ECB or CBC (then `iv` holds and receives the chaining value).
    bool Run(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt);
    void Reset();

private:
    bool Update(evp_cipher_ctx_st* context, const uint8_t* in, uint8_t* out, size_t blocks);

    std::shared_ptr<const CryptoBinding> crypto_;
    Algorithm algorithm_ = Algorithm::kAes;
    uint32_t block_size_ = 0;
    SecureBytes key_;
    // Owned, freed through `crypto_`: ECB made with the key, CBC at the first run.
    evp_cipher_ctx_st* encrypt_ = nullptr;
    evp_cipher_ctx_st* decrypt_ = nullptr;
    evp_cipher_ctx_st* cbc_encrypt_ = nullptr;
    evp_cipher_ctx_st* cbc_decrypt_ = nullptr;
};

class cryptDES : public cryptSYMMETRIC {
public:
    cryptDES();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;

private:
    EvpBlockCipher fips_;  // keyed only in FIPS mode
};

// Three-key EDE: the inherited schedule holds K1.
class cryptTripleDES : public cryptSYMMETRIC {
public:
    cryptTripleDES();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;

private:
    SecureBytes schedule2_;
    SecureBytes schedule3_;
    EvpBlockCipher fips_;  // keyed only in FIPS mode
};

// AES-128; the inherited schedule is the encryption schedule. Runs of blocks go through the
// library's EVP interface when it is bound (it uses the processor's AES instructions).
class cryptAES : public cryptSYMMETRIC {
public:
    cryptAES();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;

    // Tests compare the two ways of running blocks: false makes runs use the AES_* entries.
    void SetEvpRunsAllowed(bool allowed) { evp_allowed_ = allowed; }

private:
    bool Run(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt);
    bool EvpRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt);

    SecureBytes decrypt_schedule_;
    SecureBytes key_;  // the key bytes in use, for the EVP contexts of the runs
    bool evp_allowed_ = true;
    EvpBlockCipher runs_;  // outside FIPS mode: the runs, keyed at the first
    EvpBlockCipher fips_;  // keyed only in FIPS mode
};

class cryptAES192 : public cryptAES {
public:
    cryptAES192();
};

class cryptAES256 : public cryptAES {
public:
    cryptAES256();
};

class cryptBlowfish : public cryptSYMMETRIC {
public:
    cryptBlowfish();
    // The key goes to the library at its given length, never zero-extended.
    int32_t SetKey(const uint8_t* key, uint32_t length) override;
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
};

// CAST-128 on two little-endian 32-bit words per block.
class cryptCast : public cryptSYMMETRIC {
public:
    cryptCast();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;

private:
    bool Run(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv, bool encrypt);
};

// RC2 with an effective key length of 8 bits.
class cryptRC2 : public cryptSYMMETRIC {
public:
    cryptRC2();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
};

// RC4 as a cipher with one-byte blocks; the key stream runs on for the life of the object.
class cryptRC4 : public cryptSYMMETRIC {
public:
    cryptRC4();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
    bool EncryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
    bool DecryptRun(const uint8_t* in, uint8_t* out, size_t blocks, bool chain, uint8_t* iv) override;
};

// RC5-32 with 16 rounds.
class cryptRC5 : public cryptSYMMETRIC {
public:
    cryptRC5();
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override;
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;
};

}  // namespace ombrix
