// The public-key algorithm classes: cryptRSA (Types RSA, RSASHA1) and cryptDSS (Types DSA,
// DSASHA1). Keys arrive as SSH-style key blobs: a string naming the key type followed by mpints,
// "ssh-rsa" n e [d p q dmp1 dmq1 iqmp] or "ssh-dss" p q g y [x]. cryptRSA also takes an
// OpenSSH public-key line ("ssh-rsa " + Base64) and a public blob in the RFC 4253 order (e, n),
// and encrypts and decrypts block by block inside the symmetric framework.
#pragma once

#include <cstdint>
#include <memory>

#include "base/buffer.h"
#include "crypto/symmetric.h"

// The crypto library's key objects, by their structure tags: this header stays free of the
// library's headers because the control includes it.
struct rsa_st;
struct dsa_st;

namespace ombrix {

class cryptASYMMETRIC : public cryptSYMMETRIC {
public:
    cryptASYMMETRIC() = default;

    // The base takes no key.
    int32_t SetKey(const uint8_t* key, uint32_t length) override;
    int32_t ScheduleKey(const uint8_t* key, uint32_t length) override { return 0; }

    // Hashes all the data (SHA-1 for Types RSASHA1 and DSASHA1, MD5 otherwise) and signs the
    // hash. Null without a complete private key or when the library fails.
    virtual std::unique_ptr<Buffer> SignData(const uint8_t* data, uint32_t length, int32_t type);
    // 1 when `signature` is valid for the data under the key, else 0 (also for any malformed
    // key or signature).
    virtual int32_t VerifyData(const uint8_t* data, uint32_t length, const uint8_t* signature,
                               uint32_t signature_length, int32_t type);

    // True when the last key blob carried private components (complete or not).
    bool HasPrivateKey() const { return private_key_ != 0; }
    // True when the last SetKey succeeded and, for a private key, all its components arrived:
    // the key can be used for every operation of its class.
    bool KeyUsable() const { return key_usable_; }

protected:
    int32_t private_key_ = 0;
    bool key_usable_ = false;
};

class cryptRSA : public cryptASYMMETRIC {
public:
    // Largest modulus accepted, in bits.
    static constexpr int kMaxModulusBits = 16384;

    cryptRSA();
    ~cryptRSA() override;

    int32_t SetKey(const uint8_t* key, uint32_t length) override;
    // One PKCS#1 v1.5 operation: with a private key block type 1 (private encryption), else
    // block type 2 (public encryption). `out` receives block-size bytes; on failure zeros, and
    // BlockFailed() is true.
    int32_t EncryptBlock(const uint8_t* in, uint8_t* out) override;
    // Undoes the other side's EncryptBlock; sets the significant length to the plaintext
    // length. On failure (wrong key, damaged block, the wrong kind of block for the key) the
    // significant length stays unchanged and BlockFailed() is true.
    int32_t DecryptBlock(const uint8_t* in, uint8_t* out) override;

    std::unique_ptr<Buffer> SignData(const uint8_t* data, uint32_t length, int32_t type) override;
    int32_t VerifyData(const uint8_t* data, uint32_t length, const uint8_t* signature,
                       uint32_t signature_length, int32_t type) override;

    struct KeyDeleter {
        void operator()(rsa_st* key) const;
    };

private:
    int32_t SetBlobKey(const uint8_t* key, uint32_t length);

    std::unique_ptr<rsa_st, KeyDeleter> key_;
};

class cryptDSS : public cryptASYMMETRIC {
public:
    // Largest prime p accepted, in bits (the library's own DSA limit).
    static constexpr int kMaxPrimeBits = 10000;

    cryptDSS();
    ~cryptDSS() override;

    int32_t SetKey(const uint8_t* key, uint32_t length) override;

    std::unique_ptr<Buffer> SignData(const uint8_t* data, uint32_t length, int32_t type) override;
    int32_t VerifyData(const uint8_t* data, uint32_t length, const uint8_t* signature,
                       uint32_t signature_length, int32_t type) override;

    struct KeyDeleter {
        void operator()(dsa_st* key) const;
    };

private:
    std::unique_ptr<dsa_st, KeyDeleter> key_;
};

// cryptRSA for Types RSA (1000) and RSASHA1 (1101), cryptDSS for DSA (1001) and DSASHA1 (1102);
// null for any other Type.
std::unique_ptr<cryptASYMMETRIC> CreateAsymmetric(int32_t type);

}  // namespace ombrix
