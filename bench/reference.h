// The reference side of the benchmark: OpenSSL's EVP interface and zlib, run on the same data as
// the control. Kept apart from the control's headers, whose enumerators (RSA, MD5, ...) clash
// with OpenSSL's names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bench {

// What a row is measured against.
struct Reference {
    enum class Kind { Cipher, Zlib, Digest, Hmac, Crc32 };
    Kind kind;
    const char* cipher;  // OpenSSL cipher or digest name (Cipher, Digest, Hmac)
    int level;           // compression level (Zlib)
    bool same_output = true;  // false: the same algorithm with another word order or key setup
};

constexpr Reference Cipher(const char* name) { return {Reference::Kind::Cipher, name, 0}; }
// The library's cipher of the same kind and speed whose bytes differ from the control's (CAST-128
// on big-endian words, RC2 with its full effective key length).
constexpr Reference CipherAlike(const char* name) { return {Reference::Kind::Cipher, name, 0, false}; }
constexpr Reference Zlib(int level) { return {Reference::Kind::Zlib, nullptr, level}; }
constexpr Reference Digest(const char* name) { return {Reference::Kind::Digest, name, 0}; }
constexpr Reference Hmac(const char* name) { return {Reference::Kind::Hmac, name, 0}; }
constexpr Reference Crc32() { return {Reference::Kind::Crc32, nullptr, 0}; }

bool SameReference(const Reference& a, const Reference& b);

// Whether the reference's output must equal the control's byte for byte (ciphers and digests:
// yes; a one-call compression and the control's chunked stream may choose different deflate
// blocks).
bool OutputComparable(const Reference& reference);

struct RunResult {
    bool ok = false;
    double seconds = 0;
    std::string error;
};

// One timed run: encrypts (or compresses, digests, MACs with `key`) `input` into `output`, or,
// with `decrypt`, decrypts (or decompresses) it; `output` is resized to the produced length.
// A CRC-32 is written most significant byte first, as the control writes it. `plain_size` bounds the
// output of a decompression. Ciphers run in one update call with padding off.
RunResult RunReference(const Reference& reference, bool decrypt, std::span<const uint8_t> key,
                       std::span<const uint8_t> iv, std::span<const uint8_t> input, size_t plain_size,
                       std::vector<uint8_t>& output);

// The reference for a file-to-file encryption: ReadFile, one EVP update and WriteFile per
// `buffer_size` bytes from `from` into `to` (created anew), padding off.
RunResult RunFileCipher(const char* name, std::span<const uint8_t> key, std::span<const uint8_t> iv, const wchar_t* from,
                        const wchar_t* to, size_t buffer_size);

}  // namespace bench
