#include "crypto/sha2.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "base/buffer.h"
#include "base/byte_order.h"

namespace ombrix {
namespace {

// ---- Byte order and processor features --------------------------------------------------------

inline uint32_t Rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint64_t Rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

struct CpuFeatures {
    bool sha = false;   // SHA extensions with SSSE3 and SSE4.1
    bool bmi2 = false;  // BMI1 and BMI2
    bool avx2 = false;  // with the YMM state enabled by the operating system
};

const CpuFeatures& Cpu() {
    static const CpuFeatures features = [] {
        CpuFeatures f;
        unsigned a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
        const bool ssse3 = (c & bit_SSSE3) != 0;
        const bool sse41 = (c & bit_SSE4_1) != 0;
        bool ymm_state = false;
        if ((c & bit_OSXSAVE) && (c & bit_AVX)) {
            unsigned low = 0, high = 0;
            __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
            ymm_state = (low & 6) == 6;  // XCR0: SSE and AVX state
        }
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return f;
        f.sha = ssse3 && sse41 && (b & (1u << 29)) != 0;  // leaf 7, EBX bit 29: SHA
        f.bmi2 = (b & (1u << 3)) != 0 && (b & (1u << 8)) != 0;  // leaf 7, EBX bits 3 and 8: BMI1, BMI2
        f.avx2 = ymm_state && f.bmi2 && (b & (1u << 5)) != 0;  // leaf 7, EBX bit 5: AVX2
        return f;
    }();
    return features;
}

// The frame of the rounds of one block: the eight working variables (and `y`, see the rounds)
// from the state, and added back to it.
#define OMBRIX_SHA2_ROUNDS_BEGIN                                                                 \
    auto a = state[0], b = state[1], c = state[2], d = state[3];                                 \
    auto e = state[4], f = state[5], g = state[6], h = state[7];                                 \
    auto y = b ^ c
#define OMBRIX_SHA2_ROUNDS_END                                                                   \
    state[0] += a; state[1] += b; state[2] += c; state[3] += d;                                  \
    state[4] += e; state[5] += f; state[6] += g; state[7] += h

// ---- SHA-256 ------------------------------------------------------------------------------------

alignas(16) constexpr uint32_t kK256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t kInitial256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// One round; the callers rotate the roles of the eight variables instead of moving them. `y`
// carries a ^ b of the previous round (b ^ c of this one) for a three-operation Maj.
#define OMBRIX_SHA256_ROUND(a, b, c, d, e, f, g, h, k, w)                                        \
    do {                                                                                         \
        const uint32_t t = h + (Rotr32(e, 6) ^ Rotr32(e, 11) ^ Rotr32(e, 25)) + (g ^ (e & (f ^ g))) + (k) + (w); \
        d += t;                                                                                  \
        const uint32_t x = a ^ b;                                                                \
        h = t + ((b ^ (x & y)) + (Rotr32(a, 2) ^ Rotr32(a, 13) ^ Rotr32(a, 22)));                \
        y = x;                                                                                   \
    } while (0)

// Message schedule word i (16..63) in place in the 16-word ring.
#define OMBRIX_SHA256_W(i)                                                                       \
    (w[(i) & 15] += (Rotr32(w[((i) - 2) & 15], 17) ^ Rotr32(w[((i) - 2) & 15], 19) ^ (w[((i) - 2) & 15] >> 10)) + \
                    w[((i) - 7) & 15] +                                                          \
                    (Rotr32(w[((i) - 15) & 15], 7) ^ Rotr32(w[((i) - 15) & 15], 18) ^ (w[((i) - 15) & 15] >> 3)))

#define OMBRIX_SHA256_EIGHT(i, W)                                                                \
    OMBRIX_SHA256_ROUND(a, b, c, d, e, f, g, h, kK256[(i) + 0], W((i) + 0));                     \
    OMBRIX_SHA256_ROUND(h, a, b, c, d, e, f, g, kK256[(i) + 1], W((i) + 1));                     \
    OMBRIX_SHA256_ROUND(g, h, a, b, c, d, e, f, kK256[(i) + 2], W((i) + 2));                     \
    OMBRIX_SHA256_ROUND(f, g, h, a, b, c, d, e, kK256[(i) + 3], W((i) + 3));                     \
    OMBRIX_SHA256_ROUND(e, f, g, h, a, b, c, d, kK256[(i) + 4], W((i) + 4));                     \
    OMBRIX_SHA256_ROUND(d, e, f, g, h, a, b, c, kK256[(i) + 5], W((i) + 5));                     \
    OMBRIX_SHA256_ROUND(c, d, e, f, g, h, a, b, kK256[(i) + 6], W((i) + 6));                     \
    OMBRIX_SHA256_ROUND(b, c, d, e, f, g, h, a, kK256[(i) + 7], W((i) + 7))

#define OMBRIX_SHA256_LOAD(i) (w[i] = LoadBigEndian32(p + 4 * (i)))

void Sha256BlocksPortable(uint32_t state[8], const uint8_t* p, size_t count) {
    uint32_t w[16];
    for (; count != 0; --count, p += 64) {
        OMBRIX_SHA2_ROUNDS_BEGIN;
        OMBRIX_SHA256_EIGHT(0, OMBRIX_SHA256_LOAD);
        OMBRIX_SHA256_EIGHT(8, OMBRIX_SHA256_LOAD);
        for (int i = 16; i < 64; i += 16) {
            OMBRIX_SHA256_EIGHT(i, OMBRIX_SHA256_W);
            OMBRIX_SHA256_EIGHT(i + 8, OMBRIX_SHA256_W);
        }
        OMBRIX_SHA2_ROUNDS_END;
    }
    SecureZero(w, sizeof w);
}

#undef OMBRIX_SHA256_ROUND
#undef OMBRIX_SHA256_W
#undef OMBRIX_SHA256_EIGHT
#undef OMBRIX_SHA256_LOAD

// The SHA extensions: four rounds per group, two by each sha256rnds2, with the message schedule
// (sha256msg1/msg2) run three and one groups ahead. The state is kept as ABEF and CDGH.
#define OMBRIX_SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))

template <int G>
OMBRIX_SHA_TARGET __attribute__((always_inline)) inline void ShaNiGroup(__m128i& abef, __m128i& cdgh, __m128i& m0, __m128i& m1,
                                                                          __m128i& m3, const uint8_t* p, __m128i byte_swap) {
    if (G < 4) m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * G)), byte_swap);
    __m128i message = _mm_add_epi32(m0, _mm_load_si128(reinterpret_cast<const __m128i*>(kK256 + 4 * G)));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
    if (G >= 3 && G <= 14) {
        m1 = _mm_add_epi32(m1, _mm_alignr_epi8(m0, m3, 4));
        m1 = _mm_sha256msg2_epu32(m1, m0);
    }
    message = _mm_shuffle_epi32(message, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
    if (G >= 1 && G <= 12) m3 = _mm_sha256msg1_epu32(m3, m0);
}

OMBRIX_SHA_TARGET void Sha256BlocksShaNi(uint32_t state[8], const uint8_t* p, size_t count) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count != 0; --count, p += 64) {
        const __m128i abef_saved = abef;
        const __m128i cdgh_saved = cdgh;
        __m128i w0, w1, w2, w3;
        // Group G uses the words of ring slot G mod 4 (m0), refines slot G+1 (m1) with msg2 and
        // slot G+3 (m3) with msg1.
        ShaNiGroup<0>(abef, cdgh, w0, w1, w3, p, byte_swap);
        ShaNiGroup<1>(abef, cdgh, w1, w2, w0, p, byte_swap);
        ShaNiGroup<2>(abef, cdgh, w2, w3, w1, p, byte_swap);
        ShaNiGroup<3>(abef, cdgh, w3, w0, w2, p, byte_swap);
        ShaNiGroup<4>(abef, cdgh, w0, w1, w3, p, byte_swap);
        ShaNiGroup<5>(abef, cdgh, w1, w2, w0, p, byte_swap);
        ShaNiGroup<6>(abef, cdgh, w2, w3, w1, p, byte_swap);
        ShaNiGroup<7>(abef, cdgh, w3, w0, w2, p, byte_swap);
        ShaNiGroup<8>(abef, cdgh, w0, w1, w3, p, byte_swap);
        ShaNiGroup<9>(abef, cdgh, w1, w2, w0, p, byte_swap);
        ShaNiGroup<10>(abef, cdgh, w2, w3, w1, p, byte_swap);
        ShaNiGroup<11>(abef, cdgh, w3, w0, w2, p, byte_swap);
        ShaNiGroup<12>(abef, cdgh, w0, w1, w3, p, byte_swap);
        ShaNiGroup<13>(abef, cdgh, w1, w2, w0, p, byte_swap);
        ShaNiGroup<14>(abef, cdgh, w2, w3, w1, p, byte_swap);
        ShaNiGroup<15>(abef, cdgh, w3, w0, w2, p, byte_swap);
        abef = _mm_add_epi32(abef, abef_saved);
        cdgh = _mm_add_epi32(cdgh, cdgh_saved);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

#undef OMBRIX_SHA_TARGET

// ---- SHA-512 ------------------------------------------------------------------------------------

constexpr uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

constexpr uint64_t kInitial512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                                     0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
constexpr uint64_t kInitial384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
                                     0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};

// One round. `y` carries a ^ b of the previous round, which is b ^ c of this one, so that
// Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)) costs three operations; Ch is written (e & f) ^ (~e & g)
// for andn where BMI is enabled (measured: about 10% faster than g ^ (e & (f ^ g)) there).
#define OMBRIX_SHA512_ROUND(a, b, c, d, e, f, g, h, wk)                                          \
    do {                                                                                         \
        const uint64_t t = h + (wk) + (Rotr64(e, 14) ^ Rotr64(e, 18) ^ Rotr64(e, 41)) + ((e & f) ^ (~e & g)); \
        d += t;                                                                                  \
        const uint64_t x = a ^ b;                                                                \
        h = t + ((b ^ (x & y)) + (Rotr64(a, 28) ^ Rotr64(a, 34) ^ Rotr64(a, 39)));               \
        y = x;                                                                                   \
    } while (0)

#define OMBRIX_SHA512_EIGHT(i, WK)                                                               \
    OMBRIX_SHA512_ROUND(a, b, c, d, e, f, g, h, WK((i) + 0));                                    \
    OMBRIX_SHA512_ROUND(h, a, b, c, d, e, f, g, WK((i) + 1));                                    \
    OMBRIX_SHA512_ROUND(g, h, a, b, c, d, e, f, WK((i) + 2));                                    \
    OMBRIX_SHA512_ROUND(f, g, h, a, b, c, d, e, WK((i) + 3));                                    \
    OMBRIX_SHA512_ROUND(e, f, g, h, a, b, c, d, WK((i) + 4));                                    \
    OMBRIX_SHA512_ROUND(d, e, f, g, h, a, b, c, WK((i) + 5));                                    \
    OMBRIX_SHA512_ROUND(c, d, e, f, g, h, a, b, WK((i) + 6));                                    \
    OMBRIX_SHA512_ROUND(b, c, d, e, f, g, h, a, WK((i) + 7))

// Round input K + W for the portable builds: the first 16 words from the block, the others
// computed in place in a 16-word ring.
#define OMBRIX_SHA512_LOAD(i) (kK512[i] + (w[i] = LoadBigEndian64(p + 8 * (i))))
#define OMBRIX_SHA512_W(i)                                                                       \
    (kK512[i] +                                                                                  \
     (w[(i) & 15] += (Rotr64(w[((i) - 2) & 15], 19) ^ Rotr64(w[((i) - 2) & 15], 61) ^ (w[((i) - 2) & 15] >> 6)) + \
                     w[((i) - 7) & 15] +                                                         \
                     (Rotr64(w[((i) - 15) & 15], 1) ^ Rotr64(w[((i) - 15) & 15], 8) ^ (w[((i) - 15) & 15] >> 7))))

// The portable compression function's body, inlined into a baseline build and a BMI build
// (rorx for the rotations, andn in Ch).
__attribute__((always_inline)) inline void Sha512Body(uint64_t state[8], const uint8_t* p, size_t count) {
    uint64_t w[16];
    for (; count != 0; --count, p += 128) {
        OMBRIX_SHA2_ROUNDS_BEGIN;
        OMBRIX_SHA512_EIGHT(0, OMBRIX_SHA512_LOAD);
        OMBRIX_SHA512_EIGHT(8, OMBRIX_SHA512_LOAD);
        for (int i = 16; i < 80; i += 16) {
            OMBRIX_SHA512_EIGHT(i, OMBRIX_SHA512_W);
            OMBRIX_SHA512_EIGHT(i + 8, OMBRIX_SHA512_W);
        }
        OMBRIX_SHA2_ROUNDS_END;
    }
    SecureZero(w, sizeof w);
}

// AVX2: the message schedule of two blocks at once in vector registers (one block per 128-bit
// lane, two 64-bit words per lane), computed eight word pairs ahead while the scalar (BMI)
// rounds of the first block run, and written out as K + W for both blocks; the second block's
// rounds then only read it. (OpenSSL's AVX2 code is organised the same way.)
#define OMBRIX_AVX2_TARGET __attribute__((target("avx2,bmi,bmi2")))

// The round constants as the vector schedule adds them: pair j (K[2j], K[2j+1]) once per lane.
struct Sha512PairConstants {
    alignas(32) uint64_t k[160];
};
constexpr Sha512PairConstants MakeSha512PairConstants() {
    Sha512PairConstants table{};
    for (int j = 0; j < 40; ++j) {
        table.k[4 * j] = table.k[4 * j + 2] = kK512[2 * j];
        table.k[4 * j + 1] = table.k[4 * j + 3] = kK512[2 * j + 1];
    }
    return table;
}
constexpr Sha512PairConstants kK512Pairs = MakeSha512PairConstants();

// Stores K + W of word pair j (words 2j, 2j+1) of both blocks: wk[2j .. 2j+1] for the first
// block, wk[80 + 2j .. 80 + 2j+1] for the second.
#define OMBRIX_SHA512_STORE_PAIR(j, value)                                                       \
    do {                                                                                         \
        const __m256i sum = _mm256_add_epi64(value, _mm256_load_si256(reinterpret_cast<const __m256i*>(kK512Pairs.k + 4 * (j)))); \
        _mm_store_si128(reinterpret_cast<__m128i*>(wk + 2 * (j)), _mm256_castsi256_si128(sum));  \
        _mm_store_si128(reinterpret_cast<__m128i*>(wk + 80 + 2 * (j)), _mm256_extracti128_si256(sum, 1)); \
    } while (0)

// Word pair j = base + r (base a multiple of 8, r = 0..7) from pairs j-8 .. j-1 in the ring x[]:
// W[t] = sigma1(W[t-2]) + W[t-7] + sigma0(W[t-15]) + W[t-16] for t = 2j, 2j+1.
#define OMBRIX_SHA512_PAIR(base, r)                                                              \
    do {                                                                                         \
        const __m256i w15 = _mm256_alignr_epi8(x[((r) + 1) & 7], x[r], 8);                       \
        const __m256i w7 = _mm256_alignr_epi8(x[((r) + 5) & 7], x[((r) + 4) & 7], 8);            \
        const __m256i w2 = x[((r) + 7) & 7];                                                     \
        const __m256i s0 = _mm256_xor_si256(                                                     \
            _mm256_xor_si256(_mm256_srli_epi64(w15, 1), _mm256_slli_epi64(w15, 63)),             \
            _mm256_xor_si256(_mm256_srli_epi64(w15, 7), _mm256_shuffle_epi8(w15, rotate8)));     \
        const __m256i s1 = _mm256_xor_si256(                                                     \
            _mm256_xor_si256(_mm256_xor_si256(_mm256_srli_epi64(w2, 19), _mm256_slli_epi64(w2, 45)), \
                             _mm256_xor_si256(_mm256_srli_epi64(w2, 61), _mm256_slli_epi64(w2, 3))), \
            _mm256_srli_epi64(w2, 6));                                                           \
        x[r] = _mm256_add_epi64(_mm256_add_epi64(x[r], s0), _mm256_add_epi64(w7, s1));           \
        OMBRIX_SHA512_STORE_PAIR((base) + (r), x[r]);                                            \
    } while (0)

// Aligned to 64 bytes: its speed depended on where the linker happened to place it (measured
// 0.84 to 0.89 of OpenSSL's); fixed alignment makes it the same in every binary. GCC schedules
// its instructions before register allocation here too (off by default on x86): the rounds are
// bound by the latency of their chains, and that scheduling gained about 1.5% (0.90 to 0.91).
#if defined(__GNUC__) && !defined(__clang__)
#define OMBRIX_SCHEDULED __attribute__((optimize("schedule-insns")))
#else
#define OMBRIX_SCHEDULED
#endif
OMBRIX_AVX2_TARGET OMBRIX_SCHEDULED __attribute__((aligned(64))) void Sha512BlocksAvx2(uint64_t state[8], const uint8_t* p, size_t count) {
    alignas(32) uint64_t wk[160];
    const __m256i byte_swap = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,
                                               7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i rotate8 = _mm256_setr_epi8(1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8,
                                             1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8);
    while (count != 0) {
        // An odd last block fills both lanes; the second lane's rounds are then skipped.
        const size_t blocks = count >= 2 ? 2 : 1;
        const uint8_t* second = p + 128 * (blocks - 1);
        __m256i x[8];
        for (int j = 0; j < 8; ++j) {
            x[j] = _mm256_shuffle_epi8(_mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * j)),
                                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * j))),
                                       byte_swap);
            OMBRIX_SHA512_STORE_PAIR(j, x[j]);
        }
#define OMBRIX_SHA512_WK_FIRST(t) (wk[t])
#define OMBRIX_SHA512_WK_SECOND(t) (wk[80 + (t)])
        {
            OMBRIX_SHA2_ROUNDS_BEGIN;
            for (int i = 0; i < 64; i += 16) {
                // Rounds i .. i+15 use pairs up to i/2 + 7; pairs i/2 + 8 .. i/2 + 15 are made here.
                const int base = i / 2 + 8;
                OMBRIX_SHA512_EIGHT(i, OMBRIX_SHA512_WK_FIRST);
                OMBRIX_SHA512_PAIR(base, 0); OMBRIX_SHA512_PAIR(base, 1);
                OMBRIX_SHA512_PAIR(base, 2); OMBRIX_SHA512_PAIR(base, 3);
                OMBRIX_SHA512_EIGHT(i + 8, OMBRIX_SHA512_WK_FIRST);
                OMBRIX_SHA512_PAIR(base, 4); OMBRIX_SHA512_PAIR(base, 5);
                OMBRIX_SHA512_PAIR(base, 6); OMBRIX_SHA512_PAIR(base, 7);
            }
            OMBRIX_SHA512_EIGHT(64, OMBRIX_SHA512_WK_FIRST);
            OMBRIX_SHA512_EIGHT(72, OMBRIX_SHA512_WK_FIRST);
            OMBRIX_SHA2_ROUNDS_END;
        }
        if (blocks == 2) {
            OMBRIX_SHA2_ROUNDS_BEGIN;
            for (int i = 0; i < 80; i += 16) {
                OMBRIX_SHA512_EIGHT(i, OMBRIX_SHA512_WK_SECOND);
                OMBRIX_SHA512_EIGHT(i + 8, OMBRIX_SHA512_WK_SECOND);
            }
            OMBRIX_SHA2_ROUNDS_END;
        }
#undef OMBRIX_SHA512_WK_FIRST
#undef OMBRIX_SHA512_WK_SECOND
        p += 128 * blocks;
        count -= blocks;
    }
    SecureZero(wk, sizeof wk);
}

#undef OMBRIX_SHA512_STORE_PAIR
#undef OMBRIX_SHA512_PAIR
#undef OMBRIX_AVX2_TARGET
#undef OMBRIX_SCHEDULED
#undef OMBRIX_SHA2_ROUNDS_BEGIN
#undef OMBRIX_SHA2_ROUNDS_END

#undef OMBRIX_SHA512_ROUND
#undef OMBRIX_SHA512_EIGHT
#undef OMBRIX_SHA512_LOAD
#undef OMBRIX_SHA512_W

void Sha512BlocksBaseline(uint64_t state[8], const uint8_t* p, size_t count) { Sha512Body(state, p, count); }

__attribute__((target("bmi,bmi2"))) void Sha512BlocksBmi2(uint64_t state[8], const uint8_t* p, size_t count) {
    Sha512Body(state, p, count);
}

cryptSHA512::Compression Sha512Compression(cryptSHA512::Build build) {
    switch (build) {
        case cryptSHA512::Build::kAvx2: return Sha512BlocksAvx2;
        case cryptSHA512::Build::kBmi2: return Sha512BlocksBmi2;
        default: return Sha512BlocksBaseline;
    }
}

// Absorbs data into a hash whose partial block is `block` (`buffered` bytes used): completes
// that block, compresses the whole blocks straight from `data`, keeps the tail.
template <size_t kBlock, class Word>
void Absorb(Word* state, uint8_t* block, size_t buffered, const uint8_t* data, size_t length,
            void (*compress)(Word*, const uint8_t*, size_t)) {
    if (buffered != 0) {
        const size_t take = std::min(kBlock - buffered, length);
        memcpy(block + buffered, data, take);
        data += take;
        length -= take;
        if (buffered + take < kBlock) return;
        compress(state, block, 1);
    }
    const size_t blocks = length / kBlock;
    if (blocks != 0) {
        compress(state, data, blocks);
        data += blocks * kBlock;
        length -= blocks * kBlock;
    }
    if (length != 0) memcpy(block, data, length);
}

// Pads the partial block (`buffered` bytes used) with 0x80 and zeros up to the length field in
// its last kLengthField bytes, compressing a block that fills up first.
template <size_t kBlock, size_t kLengthField, class Word>
void Pad(Word* state, uint8_t* block, size_t buffered, void (*compress)(Word*, const uint8_t*, size_t)) {
    block[buffered++] = 0x80;
    if (buffered > kBlock - kLengthField) {
        memset(block + buffered, 0, kBlock - buffered);
        compress(state, block, 1);
        buffered = 0;
    }
    memset(block + buffered, 0, kBlock - kLengthField - buffered);
}

}  // namespace

// ---- cryptSHA256 --------------------------------------------------------------------------------

cryptSHA256::cryptSHA256() : compress_(Cpu().sha ? Sha256BlocksShaNi : Sha256BlocksPortable) {
    memcpy(state_, kInitial256, sizeof state_);
    memset(block_, 0, sizeof block_);
}

cryptSHA256::~cryptSHA256() {
    SecureZero(state_, sizeof state_);
    SecureZero(block_, sizeof block_);
}

void cryptSHA256::Init() {
    memcpy(state_, kInitial256, sizeof state_);
    bit_count_ = 0;
    memset(output, 0, sizeof output);
}

void cryptSHA256::Update(const uint8_t* data, uint32_t length) {
    if (finish) {
        Final(output);
        return;
    }
    if (length == 0) return;
    const size_t buffered = static_cast<size_t>(bit_count_ >> 3) & 63;
    bit_count_ += uint64_t{length} << 3;
    Absorb<64>(state_, block_, buffered, data, length, compress_);
}

void cryptSHA256::Final(uint8_t* out) {
    Pad<64, 8>(state_, block_, static_cast<size_t>(bit_count_ >> 3) & 63, compress_);
    StoreBigEndian64(block_ + 56, bit_count_);
    compress_(state_, block_, 1);
    for (int i = 0; i < 8; ++i) StoreBigEndian32(out + 4 * i, state_[i]);
}

bool cryptSHA256::ShaExtensionsAvailable() { return Cpu().sha; }

void cryptSHA256::SetShaExtensionsAllowed(bool allowed) {
    compress_ = allowed && Cpu().sha ? Sha256BlocksShaNi : Sha256BlocksPortable;
}

bool cryptSHA256::UsesShaExtensions() const { return compress_ == Sha256BlocksShaNi; }

// ---- cryptSHA512 and cryptSHA384 ----------------------------------------------------------------

cryptSHA512::cryptSHA512() : cryptSHA512(kInitial512) {}

cryptSHA512::cryptSHA512(const uint64_t* initial_values)
    : initial_(initial_values), compress_(Sha512Compression(BestBuild())) {
    memcpy(state_, initial_, sizeof state_);
    memset(block_, 0, sizeof block_);
}

cryptSHA512::~cryptSHA512() {
    SecureZero(state_, sizeof state_);
    SecureZero(block_, sizeof block_);
}

void cryptSHA512::Init() {
    memcpy(state_, initial_, sizeof state_);
    byte_count_[0] = byte_count_[1] = 0;
    memset(output, 0, sizeof output);
}

void cryptSHA512::Update(const uint8_t* data, uint32_t length) {
    if (finish) {
        Final(output);
        return;
    }
    if (length == 0) return;
    const size_t buffered = static_cast<size_t>(byte_count_[0] & 127);
    byte_count_[0] += length;
    if (byte_count_[0] < length) ++byte_count_[1];
    Absorb<128>(state_, block_, buffered, data, length, compress_);
}

void cryptSHA512::Final(uint8_t* out) {
    Pad<128, 16>(state_, block_, static_cast<size_t>(byte_count_[0] & 127), compress_);
    StoreBigEndian64(block_ + 112, (byte_count_[1] << 3) | (byte_count_[0] >> 61));
    StoreBigEndian64(block_ + 120, byte_count_[0] << 3);
    compress_(state_, block_, 1);
    const uint32_t words = WordCount();
    for (uint32_t i = 0; i < words; ++i) StoreBigEndian64(out + 8 * i, state_[i]);
}

cryptSHA512::Build cryptSHA512::BestBuild() { return Cpu().avx2 ? Build::kAvx2 : Cpu().bmi2 ? Build::kBmi2 : Build::kBaseline; }

bool cryptSHA512::BuildAvailable(Build build) {
    return build == Build::kBaseline || (build == Build::kBmi2 && Cpu().bmi2) || (build == Build::kAvx2 && Cpu().avx2);
}

void cryptSHA512::SetBuild(Build build) { compress_ = Sha512Compression(BuildAvailable(build) ? build : Build::kBaseline); }

cryptSHA384::cryptSHA384() : cryptSHA512(kInitial384) {}

}  // namespace ombrix
