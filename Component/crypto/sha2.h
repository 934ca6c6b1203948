// SHA-256, SHA-512 and SHA-384 (FIPS 180-2), always computed by the program's own code, never by
// the crypto library. SHA-256 uses the processor's SHA extensions when CPUID reports them and
// portable code otherwise; SHA-512/384 use scalar rounds with the message schedule in AVX2
// registers, or the portable code (built once for any x86-64 and once with BMI), chosen at run
// time.
//
// Update with `finish` set calls Final into `output` and ignores the data of that call (the
// callers finish with no data). Whole blocks are compressed straight from the caller's data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/digests.h"

namespace ombrix {

class MySHA : public cryptMAC {
public:
    // Pads the message, processes the last block(s) and writes GetSize() bytes of digest to
    // `out` (room for 64 bytes). The object is then finished.
    virtual void Final(uint8_t* out) = 0;
};

class cryptSHA256 : public MySHA {
public:
    cryptSHA256();
    ~cryptSHA256() override;

    // Back to the initial hash values with nothing absorbed; zeroes `output`. No library
    // context is made.
    void Init() override;
    void Update(const uint8_t* data, uint32_t length) override;
    uint32_t GetSize() override { return 32; }
    void Final(uint8_t* out) override;

    // Whether this processor has the SHA extensions (and SSE4.1) that the fast path uses.
    static bool ShaExtensionsAvailable();
    // Tests compare the engines: false forces the portable compression function.
    void SetShaExtensionsAllowed(bool allowed);
    bool UsesShaExtensions() const;

    using Compression = void (*)(uint32_t state[8], const uint8_t* blocks, size_t count);

private:
    uint32_t state_[8];
    uint64_t bit_count_ = 0;  // message length in bits, modulo 2^64
    uint8_t block_[64];
    Compression compress_;
};

class cryptSHA512 : public MySHA {
public:
    cryptSHA512();
    ~cryptSHA512() override;

    void Init() override;
    void Update(const uint8_t* data, uint32_t length) override;
    uint32_t GetSize() override { return 64; }
    void Final(uint8_t* out) override;
    // 64-bit state words that form the digest.
    virtual uint32_t WordCount() { return 8; }

    // The builds of the compression function: portable code for any x86-64, the same code with
    // BMI1/BMI2 (andn, rorx), and those rounds with the message schedule in AVX2 registers. The best one
    // that the processor has is chosen at construction; tests select each in turn.
    enum class Build { kBaseline, kBmi2, kAvx2 };
    static Build BestBuild();
    static bool BuildAvailable(Build build);
    // Uses `build`, or the baseline when the processor lacks it.
    void SetBuild(Build build);

    using Compression = void (*)(uint64_t state[8], const uint8_t* blocks, size_t count);

protected:
    explicit cryptSHA512(const uint64_t* initial_values);

private:
    const uint64_t* initial_;
    uint64_t state_[8];
    uint64_t byte_count_[2] = {};  // message length in bytes, low then high (bits = bytes x 8)
    uint8_t block_[128];
    Compression compress_;
};

class cryptSHA384 : public cryptSHA512 {
public:
    cryptSHA384();
    uint32_t GetSize() override { return 48; }
    uint32_t WordCount() override { return 6; }
};

}  // namespace ombrix
