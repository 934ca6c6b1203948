#include "crypto/digests.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstring>
#include <new>

#include "base/buffer.h"
#include "base/byte_order.h"
#include "binding/binding.h"
#include "binding/fips.h"
#include "crypto/algorithm_types.h"
#include "crypto/sha2.h"

namespace ombrix {
namespace {


constexpr uint32_t kMd5Size = 16;
constexpr uint32_t kSha1Size = 20;

// ---- MD5 (RFC 1321) -----------------------------------------------------------------------------

// T[i] = floor(2^32 x |sin(i + 1)|).
constexpr uint32_t kMd5T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5Shift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void Md5Transform(uint32_t state[4], const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = LoadLittleEndian32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int k;
        switch (round) {
            case 0: f = (b & c) | (~b & d); k = i; break;                  // F, rounds 1-16
            case 1: f = (b & d) | (c & ~d); k = (5 * i + 1) & 15; break;   // G
            case 2: f = b ^ c ^ d; k = (3 * i + 5) & 15; break;            // H
            default: f = c ^ (b | ~d); k = (7 * i) & 15; break;            // I
        }
        const uint32_t sum = a + f + kMd5T[i] + x[k];
        const int s = kMd5Shift[round][i & 3];
        a = d;
        d = c;
        c = b;
        b += (sum << s) | (sum >> (32 - s));
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    SecureZero(x, sizeof x);
}

void Md5Start(cryptMD5::Context& context) {
    memset(&context, 0, sizeof context);
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
}

void Md5Add(cryptMD5::Context& context, const uint8_t* data, uint32_t length) {
    const uint32_t low = context.count[0] + length;
    if (low < context.count[0]) ++context.count[1];
    context.count[0] = low;
    while (length != 0) {
        uint32_t take = 64 - context.buffered;
        if (take > length) take = length;
        memcpy(context.block + context.buffered, data, take);
        context.buffered += take;
        data += take;
        length -= take;
        if (context.buffered == 64) {
            Md5Transform(context.state, context.block);
            context.buffered = 0;
        }
    }
}

// Appends the padding and the bit length and writes the digest.
void Md5Finish(cryptMD5::Context& context, uint8_t digest[16]) {
    uint8_t length[8];
    StoreLittleEndian32(length, context.count[0] << 3);
    StoreLittleEndian32(length + 4, (context.count[1] << 3) | (context.count[0] >> 29));
    static const uint8_t kPadding[64] = {0x80};
    const uint32_t fill = context.buffered < 56 ? 56 - context.buffered : 120 - context.buffered;
    Md5Add(context, kPadding, fill);
    Md5Add(context, length, 8);
    for (int i = 0; i < 4; ++i) StoreLittleEndian32(digest + 4 * i, context.state[i]);
}

// ---- CRC tables ---------------------------------------------------------------------------------

// Tables for a reflected CRC, built by the bit-at-a-time rule: t[0][b] is the register change for
// byte b, t[k][b] that for byte b followed by k zero bytes (for slicing k + 1 bytes at a time).
template <class Word, int kSlices>
struct CrcTables {
    Word t[kSlices][256];
};

template <class Word, int kSlices>
constexpr CrcTables<Word, kSlices> MakeCrcTables(Word polynomial) {
    CrcTables<Word, kSlices> tables{};
    for (unsigned n = 0; n < 256; ++n) {
        Word c = static_cast<Word>(n);
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? static_cast<Word>((c >> 1) ^ polynomial) : static_cast<Word>(c >> 1);
        tables.t[0][n] = c;
    }
    for (int k = 1; k < kSlices; ++k) {
        for (unsigned n = 0; n < 256; ++n) {
            const Word previous = tables.t[k - 1][n];
            tables.t[k][n] = static_cast<Word>((previous >> 8) ^ tables.t[0][previous & 0xFF]);
        }
    }
    return tables;
}

constexpr CrcTables<uint16_t, 8> kCrc16 = MakeCrcTables<uint16_t, 8>(0xA001);
constexpr CrcTables<uint32_t, 16> kCrc32 = MakeCrcTables<uint32_t, 16>(0xEDB88320);
static_assert(kCrc16.t[0][1] == 0xC0C1 && kCrc16.t[0][128] == 0xA001);
static_assert(kCrc32.t[0][1] == 0x77073096 && kCrc32.t[0][128] == 0xEDB88320);

// Eight bytes through the tables: the register is XORed into the first bytes of the word.
template <class Word, int kSlices>
inline Word CrcEight(const CrcTables<Word, kSlices>& tables, uint64_t v, int first) {
    return static_cast<Word>(tables.t[first + 7][v & 0xFF] ^ tables.t[first + 6][(v >> 8) & 0xFF] ^
                             tables.t[first + 5][(v >> 16) & 0xFF] ^ tables.t[first + 4][(v >> 24) & 0xFF] ^
                             tables.t[first + 3][(v >> 32) & 0xFF] ^ tables.t[first + 2][(v >> 40) & 0xFF] ^
                             tables.t[first + 1][(v >> 48) & 0xFF] ^ tables.t[first][v >> 56]);
}

template <class Word, int kSlices>
Word CrcUpdate(const CrcTables<Word, kSlices>& tables, Word crc, const uint8_t* p, size_t length) {
    static_assert(kSlices == 8 || kSlices == 16);
    while (length >= kSlices) {
        if constexpr (kSlices == 16) {
            crc = static_cast<Word>(CrcEight(tables, LoadLittleEndian64(p) ^ crc, 8) ^ CrcEight(tables, LoadLittleEndian64(p + 8), 0));
        } else {
            crc = CrcEight(tables, LoadLittleEndian64(p) ^ crc, 0);
        }
        p += kSlices;
        length -= kSlices;
    }
    for (; length != 0; --length) crc = static_cast<Word>((crc >> 8) ^ tables.t[0][(crc ^ *p++) & 0xFF]);
    return crc;
}

// Carry-less multiplication folding for the reflected CRC-32 (Intel, "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction", 2009; the constants are those of the Linux
// kernel's crc32-pclmul for 0xEDB88320). Takes the register as the tables do (no inversion);
// `length` is at least 64 and a multiple of 16.
#define OMBRIX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

OMBRIX_CLMUL_TARGET __attribute__((always_inline)) inline __m128i Load128(const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x (128 bits) multiplied forward by the two halves of k.
OMBRIX_CLMUL_TARGET __attribute__((always_inline)) inline __m128i Fold128(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

OMBRIX_CLMUL_TARGET uint32_t Crc32Fold(uint32_t crc, const uint8_t* p, size_t length) {
    const __m128i k1k2 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);  // fold by 512 bits
    const __m128i k3k4 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);  // fold by 128 bits
    const __m128i k5 = _mm_set_epi64x(0, 0x163cd6124);              // 64 to 32 bits
    const __m128i poly = _mm_set_epi64x(0x1f7011641, 0x1db710641);  // Barrett: mu, P
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load128(p + 16);
    __m128i x3 = Load128(p + 32);
    __m128i x4 = Load128(p + 48);
    p += 64;
    length -= 64;
    for (; length >= 64; p += 64, length -= 64) {
        x1 = _mm_xor_si128(Fold128(x1, k1k2), Load128(p));
        x2 = _mm_xor_si128(Fold128(x2, k1k2), Load128(p + 16));
        x3 = _mm_xor_si128(Fold128(x3, k1k2), Load128(p + 32));
        x4 = _mm_xor_si128(Fold128(x4, k1k2), Load128(p + 48));
    }
    x1 = _mm_xor_si128(Fold128(x1, k3k4), x2);
    x1 = _mm_xor_si128(Fold128(x1, k3k4), x3);
    x1 = _mm_xor_si128(Fold128(x1, k3k4), x4);
    for (; length >= 16; p += 16, length -= 16) x1 = _mm_xor_si128(Fold128(x1, k3k4), Load128(p));

    // 128 to 64 bits (also appends 32 zero bits), 64 to 32 bits, then Barrett reduction.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(k3k4, x1, 0x01));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

#undef OMBRIX_CLMUL_TARGET

bool CpuHasCarrylessMultiply() {
    static const bool available = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (c & bit_SSE4_1);
    }();
    return available;
}

}  // namespace

// ---- cryptMAC -----------------------------------------------------------------------------------

cryptMAC::cryptMAC() : crypto_(HoldCrypto()) {}

cryptMAC::~cryptMAC() {
    if (context_) crypto_->EVP_MD_CTX_destroy(context_);
}

void cryptMAC::Init() {
    const CryptoBinding& crypto = *crypto_;
    if (context_) {
        crypto.EVP_MD_CTX_destroy(context_);
        context_ = nullptr;
    }
    memset(output, 0, sizeof output);
    context_ = crypto.EVP_MD_CTX_create();
    failed_ = context_ && method_ && crypto.EVP_DigestInit(context_, method_) != 1;
}

void cryptMAC::Update(const uint8_t* data, uint32_t length) {
    if (!context_) return;
    const CryptoBinding& crypto = *crypto_;
    if (length != 0 && crypto.EVP_DigestUpdate(context_, data, length) != 1) failed_ = true;
    if (finish && crypto.EVP_DigestFinal_ex(context_, output, nullptr) != 1) failed_ = true;
}

const uint8_t* cryptMAC::GetResult() { return finish ? output : EmptyResult(); }

uint32_t cryptMAC::GetSize() { return context_ && method_ ? method_size_ : 0; }

const uint8_t* cryptMAC::EmptyResult() {
    static const uint8_t kEmpty[1] = {0};
    return kEmpty;
}

// ---- cryptMD5 -----------------------------------------------------------------------------------

cryptMD5::cryptMD5() : cryptMD5(FipsMode()) {}

cryptMD5::cryptMD5(bool own_engine) {
    if (own_engine) own_.reset(new (std::nothrow) Context{});
    method_ = crypto_->EVP_md5();
    method_size_ = kMd5Size;
    Init();
}

cryptMD5::~cryptMD5() {
    if (own_) SecureZero(own_.get(), sizeof(Context));
}

void cryptMD5::Init() {
    if (!own_) {
        cryptMAC::Init();
        return;
    }
    memset(output, 0, sizeof output);
    Md5Start(*own_);
}

void cryptMD5::Update(const uint8_t* data, uint32_t length) {
    if (!own_) {
        cryptMAC::Update(data, length);
        return;
    }
    if (length != 0) Md5Add(*own_, data, length);
    if (finish) GetResult();  // the result bytes, as the library's digest leaves them
}

const uint8_t* cryptMD5::GetResult() {
    if (!own_) return cryptMAC::GetResult();
    // Finished on a copy, so that a second call gives the same digest.
    Context copy = *own_;
    Md5Finish(copy, output);
    SecureZero(&copy, sizeof copy);
    return output;
}

uint32_t cryptMD5::GetSize() { return own_ ? kMd5Size : cryptMAC::GetSize(); }

// ---- cryptSHA1 ----------------------------------------------------------------------------------

cryptSHA1::cryptSHA1() {
    method_ = crypto_->EVP_sha1();
    method_size_ = kSha1Size;
    Init();
}

// ---- CRC-16 and CRC-32 --------------------------------------------------------------------------

cryptCRC16::cryptCRC16() { cryptCRC16::Init(); }

void cryptCRC16::Init() {
    register_ = 0xFFFF;
    memset(output, 0, sizeof output);
}

void cryptCRC16::Update(const uint8_t* data, uint32_t length) {
    if (length != 0) register_ = CrcUpdate(kCrc16, register_, data, length);
    if (finish) {
        output[0] = static_cast<uint8_t>(register_ >> 8);
        output[1] = static_cast<uint8_t>(register_);
    }
}

const uint8_t* cryptCRC16::GetResult() { return output; }

uint32_t cryptCRC16::GetSize() { return 2; }

cryptCRC32::cryptCRC32() : pclmul_(CpuHasCarrylessMultiply()) { cryptCRC32::Init(); }

bool cryptCRC32::CarrylessMultiplyAvailable() { return CpuHasCarrylessMultiply(); }

void cryptCRC32::Init() {
    register_ = 0xFFFFFFFF;
    memset(output, 0, sizeof output);
}

void cryptCRC32::Update(const uint8_t* data, uint32_t length) {
    if (pclmul_ && length >= 64) {
        const uint32_t folded = length & ~15u;
        register_ = Crc32Fold(register_, data, folded);
        data += folded;
        length -= folded;
    }
    if (length != 0) register_ = CrcUpdate(kCrc32, register_, data, length);
    if (finish) {
        const uint32_t crc = register_ ^ 0xFFFFFFFF;
        output[0] = static_cast<uint8_t>(crc >> 24);
        output[1] = static_cast<uint8_t>(crc >> 16);
        output[2] = static_cast<uint8_t>(crc >> 8);
        output[3] = static_cast<uint8_t>(crc);
    }
}

const uint8_t* cryptCRC32::GetResult() { return output; }

uint32_t cryptCRC32::GetSize() { return 4; }

// ---- Factory ------------------------------------------------------------------------------------

std::unique_ptr<cryptMAC> CreateDigest(int32_t type) {
    namespace at = algorithm_type;
    switch (type) {
        case at::kMD5: {
            std::unique_ptr<cryptMD5> md5(new (std::nothrow) cryptMD5());
            // In FIPS mode the library's MD5 is not to be used: no object without the own engine.
            if (md5 && FipsMode() && !md5->UsesOwnEngine()) md5.reset();
            return md5;
        }
        case at::kSHA1: return std::unique_ptr<cryptMAC>(new (std::nothrow) cryptSHA1());
        case at::kSHA256: return std::unique_ptr<cryptMAC>(new (std::nothrow) cryptSHA256());
        case at::kSHA512: return std::unique_ptr<cryptMAC>(new (std::nothrow) cryptSHA512());
        case at::kSHA384: return std::unique_ptr<cryptMAC>(new (std::nothrow) cryptSHA384());
        case at::kCRC16: return std::unique_ptr<cryptMAC>(new (std::nothrow) cryptCRC16());
        case at::kCRC32: return std::unique_ptr<cryptMAC>(new (std::nothrow) cryptCRC32());
        default: return nullptr;
    }
}

}  // namespace ombrix
