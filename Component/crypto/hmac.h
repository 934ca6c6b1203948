// The HMAC classes (Types 100..104). cryptHMAC_MD5 and cryptHMAC_SHA1 are computed by the crypto
// library's HMAC interface through the binding table; cryptHMAC_SHA256 and its subclasses build
// RFC 2104 HMAC themselves over the own SHA-2 classes (sha2.h).
//
// Protocol: create; Init(key) once; clear `finish` and Update any number of times; set `finish`
// to 1 and Update once more (usually with no data); read GetSize() bytes of `output`; destroy.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/sha2.h"

struct evp_md_st;
struct hmac_ctx_st;
struct evp_mac_ctx_st;

namespace ombrix {

struct CryptoBinding;

class cryptHMAC {
public:
    cryptHMAC();
    cryptHMAC(const cryptHMAC&) = delete;
    cryptHMAC& operator=(const cryptHMAC&) = delete;
    virtual ~cryptHMAC();

    // Keys the object: a new library HMAC context started with the key and the digest method
    // (a key longer than the block size is hashed first). `key` may be null when `length` is 0.
    virtual void Init(const uint8_t* key, uint32_t length);
    // Adds the data; then, when `finish` is set, finishes into `output`.
    virtual void Update(const uint8_t* data, uint32_t length);
    // `output` when `finish` is set, otherwise an empty string (a pointer to a zero byte).
    virtual const uint8_t* GetResult();
    // Bytes of MAC: the method's digest size while a context exists, otherwise 0.
    virtual uint32_t GetSize();
    // True when the library refused a step (in FIPS mode: a digest its provider lacks); the
    // result is then no MAC.
    bool LibraryFailed() const { return failed_; }

    int32_t finish = 0;
    uint8_t output[64] = {};

protected:
    // The library the context lives in, held until the object goes (as for cryptMAC).
    std::shared_ptr<const CryptoBinding> crypto_;
    const evp_md_st* method_ = nullptr;
    hmac_ctx_st* context_ = nullptr;
    uint32_t method_size_ = 0;  // the method's digest size (MD5 16, SHA-1 20)
    // In FIPS mode with an OpenSSL 3 library: the provider's HMAC over the digest of this name.
    const char* digest_name_ = nullptr;
    evp_mac_ctx_st* mac_ = nullptr;
    bool failed_ = false;

private:
    void FreeContexts();
};

class cryptHMAC_MD5 : public cryptHMAC {
public:
    cryptHMAC_MD5();
};

class cryptHMAC_SHA1 : public cryptHMAC {
public:
    cryptHMAC_SHA1();
};

// HMAC-SHA-256 over cryptSHA256; the library's HMAC context stays unused.
class cryptHMAC_SHA256 : public cryptHMAC {
public:
    cryptHMAC_SHA256();
    ~cryptHMAC_SHA256() override;

    void Init(const uint8_t* key, uint32_t length) override;
    void Update(const uint8_t* data, uint32_t length) override;
    uint32_t GetSize() override { return digest_size_; }
    // A new, ready digest object of this HMAC's hash; null when memory is lacking.
    virtual std::unique_ptr<MySHA> CreateDigest();

protected:
    cryptHMAC_SHA256(uint32_t digest_size, uint32_t block_size);

    uint32_t digest_size_;
    uint32_t block_size_;
    std::unique_ptr<MySHA> inner_;  // absorbing the inner hash
    uint8_t inner_pad_[128];
    uint8_t outer_pad_[128];
    uint8_t key_block_[128];
};

class cryptHMAC_SHA512 : public cryptHMAC_SHA256 {
public:
    cryptHMAC_SHA512();
    std::unique_ptr<MySHA> CreateDigest() override;
};

class cryptHMAC_SHA384 : public cryptHMAC_SHA256 {
public:
    cryptHMAC_SHA384();
    std::unique_ptr<MySHA> CreateDigest() override;
};

// The HMAC object for a Type (100..104), not yet keyed; null for any other Type or when memory
// is lacking.
std::unique_ptr<cryptHMAC> CreateHMAC(int32_t type);

}  // namespace ombrix
