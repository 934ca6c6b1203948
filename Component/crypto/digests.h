// The digest and checksum classes (Types 100..106). cryptMAC is the base and, by itself, a digest
// computed by the crypto library's EVP interface through the binding table; cryptMD5 and
// cryptSHA1 are that with their method (cryptMD5 switches to its own RFC 1321 code while the
// FIPS library is in use); the SHA-2 classes (sha2.h) and the CRCs compute by themselves.
//
// Protocol: create (ready for data); clear `finish` and Update any number of times; set
// `finish` to 1 and Update once more (the Digest operation passes no data in that call; the
// RSA/DSA code passes all its data to cryptMD5 or cryptSHA1 in it); read GetSize() bytes from
// `output` or GetResult(); destroy.
#pragma once

#include <cstdint>
#include <memory>

// The crypto library's digest method and context, by their structure tags: this header stays
// free of the library's headers (their names clash with the control's type library).
struct evp_md_st;
struct evp_md_ctx_st;

namespace ombrix {

struct CryptoBinding;

class cryptMAC {
public:
    cryptMAC();
    cryptMAC(const cryptMAC&) = delete;
    cryptMAC& operator=(const cryptMAC&) = delete;
    virtual ~cryptMAC();

    // Replaces the digest context by a new one (started when a method is set); zeroes `output`.
    virtual void Init();
    // Adds the data; then, when `finish` is set, finishes into `output`.
    virtual void Update(const uint8_t* data, uint32_t length);
    // `output` when `finish` is set, otherwise an empty string (a pointer to a zero byte).
    virtual const uint8_t* GetResult();
    // Bytes of result: the method's digest size while a context exists, otherwise 0.
    virtual uint32_t GetSize();
    // True when the library refused a step (in FIPS mode: a digest its provider lacks); the
    // result is then no digest.
    bool LibraryFailed() const { return failed_; }

    int32_t finish = 0;
    uint8_t output[64] = {};

protected:
    // An empty string for GetResult before the digest is finished.
    static const uint8_t* EmptyResult();

    // The library the context lives in, held until the object goes: a computation kept
    // between calls continues, and is freed, in the library it started in.
    std::shared_ptr<const CryptoBinding> crypto_;
    const evp_md_st* method_ = nullptr;
    evp_md_ctx_st* context_ = nullptr;
    // The method's digest size (the table binds no EVP_MD_size: the sizes are those of the
    // fixed methods MD5 and SHA-1).
    uint32_t method_size_ = 0;
    bool failed_ = false;
};

// MD5. The library's EVP_md5, or, when constructed while the FIPS library is in use, the own
// RFC 1321 engine, which finishes on a copy: GetResult, and Update with `finish` set, leave the
// digest in `output` and the computation as it was.
class cryptMD5 : public cryptMAC {
public:
    cryptMD5();
    // Tests choose the engine: true for the own RFC 1321 code.
    explicit cryptMD5(bool own_engine);
    ~cryptMD5() override;

    void Init() override;
    void Update(const uint8_t* data, uint32_t length) override;
    const uint8_t* GetResult() override;
    uint32_t GetSize() override;

    bool UsesOwnEngine() const { return own_ != nullptr; }

    // The own engine's state: chaining words, block buffer and its fill, 64-bit byte count.
    struct Context {
        uint32_t state[4];
        uint8_t block[64];
        uint32_t buffered;
        uint32_t count[2];  // bytes, low then high
    };

private:
    std::unique_ptr<Context> own_;  // present only for the own engine
};

// SHA-1 by the library's EVP_sha1.
class cryptSHA1 : public cryptMAC {
public:
    cryptSHA1();
};

// CRC-16/MODBUS: reflected polynomial 0xA001, initial 0xFFFF, no final XOR; the result is the
// register, high byte first. GetResult returns `output` whether or not the checksum is finished.
class cryptCRC16 : public cryptMAC {
public:
    cryptCRC16();
    void Init() override;
    void Update(const uint8_t* data, uint32_t length) override;
    const uint8_t* GetResult() override;
    uint32_t GetSize() override;

private:
    uint16_t register_ = 0xFFFF;
};

// CRC-32 as zlib computes it (reflected polynomial 0xEDB88320, initial and final XOR
// 0xFFFFFFFF); the result is most significant byte first. GetResult as for cryptCRC16.
// Runs of 64 bytes and more are folded with carry-less multiplication (PCLMULQDQ) when the
// processor has it; the rest goes through slicing-by-16 tables.
class cryptCRC32 : public cryptMAC {
public:
    cryptCRC32();
    void Init() override;
    void Update(const uint8_t* data, uint32_t length) override;
    const uint8_t* GetResult() override;
    uint32_t GetSize() override;

    static bool CarrylessMultiplyAvailable();
    // Tests compare the two ways: false forces the tables.
    void SetCarrylessMultiplyAllowed(bool allowed) { pclmul_ = allowed && CarrylessMultiplyAvailable(); }

private:
    uint32_t register_ = 0xFFFFFFFF;
    bool pclmul_;
};

// The digest or checksum object for a Type (100..106), ready for data; null for any other Type,
// when memory is lacking, or when cryptMD5 needs its own engine and cannot allocate it.
std::unique_ptr<cryptMAC> CreateDigest(int32_t type);

}  // namespace ombrix
