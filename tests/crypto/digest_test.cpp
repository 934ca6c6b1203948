// The digest, checksum and HMAC classes: published vectors (FIPS 180-2, RFC 1321, RFC 2202,
// RFC 4231, CRC check values, Wycheproof HMAC), padding boundaries and random data against
// OpenSSL and zlib, chunked against one-piece feeding, both SHA-256 engines, both MD5 engines,
// the RSA/DSA hashing protocol, and MD5/SHA-1 while a FIPS library is bound.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "binding/fips.h"
#include "crypto/algorithm_types.h"
#include "crypto/digests.h"
#include "crypto/hmac.h"
#include "crypto/sha2.h"
#include "digest_reference.h"
#include "test_bytes.h"

namespace ombrix {
namespace {

namespace at = algorithm_type;
using test::Bytes;
using test::FromHex;
using test::RandomBytes;
using test::ToHex;

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }
Bytes Repeat(uint8_t value, size_t n) { return Bytes(n, value); }
Bytes Counting(size_t n) {  // 01 02 03 ... n
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i + 1);
    return out;
}

const char* OpenSslName(int32_t type) {
    switch (type) {
        case at::kMD5: return "MD5";
        case at::kSHA1: return "SHA1";
        case at::kSHA256: return "SHA256";
        case at::kSHA512: return "SHA512";
        default: return "SHA384";
    }
}

// Feeds `message` in pieces of `chunk` bytes (0: one piece; SIZE_MAX: random sizes), finishes as
// the Digest operation does (flag set, no data) and reads GetSize() bytes through GetResult.
// Also checks that the output buffer holds what GetResult returned.
template <class Object>
Bytes Feed(Object& object, const Bytes& message, size_t chunk) {
    object.finish = 0;
    std::mt19937 generator(static_cast<uint32_t>(message.size()));
    for (size_t at = 0; at < message.size();) {
        size_t n = chunk == 0 ? message.size() : chunk == SIZE_MAX ? 1 + generator() % 300 : chunk;
        n = std::min(n, message.size() - at);
        object.Update(message.data() + at, static_cast<uint32_t>(n));
        at += n;
    }
    object.finish = 1;
    object.Update(nullptr, 0);
    const uint8_t* result = object.GetResult();
    const Bytes bytes(result, result + object.GetSize());
    EXPECT_EQ(ToHex(object.output, bytes.size()), ToHex(bytes));
    return bytes;
}

Bytes DigestOf(int32_t type, const Bytes& message, size_t chunk = 0) {
    std::unique_ptr<cryptMAC> digest = CreateDigest(type);
    if (!digest) return {};
    return Feed(*digest, message, chunk);
}

Bytes HmacOf(int32_t type, const Bytes& key, const Bytes& message, size_t chunk = 0) {
    std::unique_ptr<cryptHMAC> hmac = CreateHMAC(type);
    if (!hmac) return {};
    hmac->Init(key.empty() ? nullptr : key.data(), static_cast<uint32_t>(key.size()));
    return Feed(*hmac, message, chunk);
}

constexpr size_t kChunkings[] = {0, 1, 7, 1024, SIZE_MAX};
constexpr int32_t kHashTypes[] = {at::kMD5, at::kSHA1, at::kSHA256, at::kSHA512, at::kSHA384};
constexpr int32_t kAllDigestTypes[] = {at::kMD5, at::kSHA1, at::kSHA256, at::kSHA512, at::kSHA384, at::kCRC16, at::kCRC32};

// ---- Digests and checksums ----------------------------------------------------------------------

struct DigestVector {
    int32_t type;
    Bytes message;
    const char* digest;
};

const char kMessage448[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char kMessage896[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

std::vector<DigestVector> PublishedDigests() {
    return {
        // RFC 1321 appendix A.5
        {at::kMD5, Text(""), "d41d8cd98f00b204e9800998ecf8427e"},
        {at::kMD5, Text("a"), "0cc175b9c0f1b6a831c399e269772661"},
        {at::kMD5, Text("abc"), "900150983cd24fb0d6963f7d28e17f72"},
        {at::kMD5, Text("message digest"), "f96b697d7cb7938d525a2f31aaf161d0"},
        {at::kMD5, Text("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b"},
        {at::kMD5, Text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"), "d174ab98d277d9f5a5611c2c9f419d9f"},
        {at::kMD5, Text("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
         "57edf4a22be3c955ac49da2e2107b67a"},
        // FIPS 180-2 examples and the empty message
        {at::kSHA1, Text(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {at::kSHA1, Text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {at::kSHA1, Text(kMessage448), "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {at::kSHA256, Text(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {at::kSHA256, Text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {at::kSHA256, Text(kMessage448), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {at::kSHA384, Text(""),
         "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
        {at::kSHA384, Text("abc"),
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {at::kSHA384, Text(kMessage896),
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
        {at::kSHA512, Text(""),
         "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
        {at::kSHA512, Text("abc"),
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
        {at::kSHA512, Text(kMessage896),
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
        // CRC check values (CRC RevEng catalogue) and the empty message
        {at::kCRC16, Text("123456789"), "4b37"},
        {at::kCRC32, Text("123456789"), "cbf43926"},
        {at::kCRC16, Text(""), "ffff"},
        {at::kCRC32, Text(""), "00000000"},
    };
}

TEST(Digest, PublishedVectorsInEveryChunking) {
    for (const DigestVector& v : PublishedDigests()) {
        for (size_t chunk : kChunkings) {
            SCOPED_TRACE(testing::Message() << "type " << v.type << ", " << v.message.size() << " bytes, chunk " << chunk);
            EXPECT_EQ(ToHex(DigestOf(v.type, v.message, chunk)), v.digest);
        }
    }
}

TEST(Digest, OneMillionA) {
    const Bytes million = Repeat('a', 1000000);
    EXPECT_EQ(ToHex(DigestOf(at::kSHA1, million, 1024)), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(ToHex(DigestOf(at::kSHA256, million, 1024)), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(ToHex(DigestOf(at::kSHA384, million, 1024)),
              "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985");
    EXPECT_EQ(ToHex(DigestOf(at::kSHA512, million, 1024)),
              "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b");
    EXPECT_EQ(ToHex(DigestOf(at::kSHA256, million, 0)), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Digest, PaddingBoundariesAgainstOpenSsl) {
    for (size_t length : {1, 55, 56, 57, 63, 64, 65, 111, 112, 113, 119, 120, 127, 128, 129, 191, 192, 255, 256, 1000}) {
        const Bytes message = RandomBytes(length, static_cast<uint32_t>(length));
        for (int32_t type : kHashTypes) {
            SCOPED_TRACE(testing::Message() << "type " << type << ", " << length << " bytes");
            const Bytes expected = reference::Digest(OpenSslName(type), message.data(), message.size());
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(ToHex(DigestOf(type, message)), ToHex(expected));
            EXPECT_EQ(ToHex(DigestOf(type, message, 1)), ToHex(expected));
        }
    }
}

TEST(Digest, BothSha256EnginesOnRandomData) {
    std::printf("SHA-256 with the SHA extensions: %s\n", cryptSHA256::ShaExtensionsAvailable() ? "available" : "not available");
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (size_t n : {1023, 1024, 1025, 4096 + 17, 65536, 100001}) lengths.push_back(n);
    for (size_t length : lengths) {
        const Bytes message = RandomBytes(length, static_cast<uint32_t>(length) + 7);
        const std::string expected = ToHex(reference::Digest("SHA256", message.data(), message.size()));
        for (bool fast : {true, false}) {
            SCOPED_TRACE(testing::Message() << length << " bytes, SHA extensions " << fast);
            cryptSHA256 sha;
            sha.SetShaExtensionsAllowed(fast);
            EXPECT_EQ(sha.UsesShaExtensions(), fast && cryptSHA256::ShaExtensionsAvailable());
            EXPECT_EQ(ToHex(Feed(sha, message, length % 3 == 0 ? 0 : SIZE_MAX)), expected);
        }
    }
}

TEST(Digest, EverySha512BuildOnRandomData) {
    using Build = cryptSHA512::Build;
    std::printf("SHA-512 builds on this processor: baseline%s%s\n", cryptSHA512::BuildAvailable(Build::kBmi2) ? ", BMI2" : "",
                cryptSHA512::BuildAvailable(Build::kAvx2) ? ", AVX2" : "");
    for (size_t length : {0, 1, 111, 112, 127, 128, 129, 255, 256, 384, 640, 1000, 1024, 4096 + 17, 100001}) {
        const Bytes message = RandomBytes(length, static_cast<uint32_t>(length) + 11);
        for (Build build : {Build::kBaseline, Build::kBmi2, Build::kAvx2}) {
            if (!cryptSHA512::BuildAvailable(build)) continue;
            SCOPED_TRACE(testing::Message() << length << " bytes, build " << static_cast<int>(build));
            cryptSHA512 sha512;
            cryptSHA384 sha384;
            sha512.SetBuild(build);
            sha384.SetBuild(build);
            EXPECT_EQ(ToHex(Feed(sha512, message, SIZE_MAX)), ToHex(reference::Digest("SHA512", message.data(), message.size())));
            EXPECT_EQ(ToHex(Feed(sha384, message, 0)), ToHex(reference::Digest("SHA384", message.data(), message.size())));
        }
    }
}

TEST(Digest, Sha2InitStartsOver) {
    for (int32_t type : {at::kSHA256, at::kSHA512, at::kSHA384}) {
        std::unique_ptr<cryptMAC> digest = CreateDigest(type);
        ASSERT_TRUE(digest);
        const Bytes junk = Text("junk");
        digest->Update(junk.data(), static_cast<uint32_t>(junk.size()));
        digest->Init();
        EXPECT_EQ(ToHex(Feed(*digest, Text("abc"), 0)), ToHex(DigestOf(type, Text("abc"))));
    }
}

TEST(Digest, Sha2FinishingCallIgnoresItsData) {
    cryptSHA256 sha;
    sha.finish = 1;
    const Bytes abc = Text("abc");
    sha.Update(abc.data(), 3);
    EXPECT_EQ(ToHex(sha.output, 32), ToHex(DigestOf(at::kSHA256, Text(""))));
}

TEST(Digest, OwnMd5EngineOnPublishedVectorsAndRandomData) {
    for (const DigestVector& v : PublishedDigests()) {
        if (v.type != at::kMD5) continue;
        for (size_t chunk : kChunkings) {
            cryptMD5 md5(true);
            ASSERT_TRUE(md5.UsesOwnEngine());
            EXPECT_EQ(ToHex(Feed(md5, v.message, chunk)), v.digest);
        }
    }
    for (size_t length : {55, 56, 57, 63, 64, 65, 119, 120, 121, 1000, 65537}) {
        const Bytes message = RandomBytes(length, static_cast<uint32_t>(length));
        cryptMD5 md5(true);
        EXPECT_EQ(ToHex(Feed(md5, message, SIZE_MAX)), ToHex(reference::Digest("MD5", message.data(), message.size())));
        // It finishes in GetResult; a second call gives the same digest.
        EXPECT_EQ(ToHex(md5.GetResult(), 16), ToHex(reference::Digest("MD5", message.data(), message.size())));
    }
}

// What the RSA and DSA code does: Init, set the flag, all data in one Update, GetResult.
TEST(Digest, SigningProtocolForMd5BothEnginesAndSha1) {
    const Bytes message = RandomBytes(5000, 42);
    struct Case {
        std::unique_ptr<cryptMAC> digest;
        const char* name;
    };
    Case cases[3];
    cases[0] = {std::make_unique<cryptMD5>(false), "MD5"};
    cases[1] = {std::make_unique<cryptMD5>(true), "MD5"};
    cases[2] = {CreateDigest(at::kSHA1), "SHA1"};
    for (Case& c : cases) {
        ASSERT_TRUE(c.digest);
        c.digest->Init();
        c.digest->finish = 1;
        c.digest->Update(message.data(), static_cast<uint32_t>(message.size()));
        const std::string expected = ToHex(reference::Digest(c.name, message.data(), message.size()));
        ASSERT_EQ(c.digest->GetSize() * 2, expected.size());
        EXPECT_EQ(ToHex(c.digest->GetResult(), c.digest->GetSize()), expected);
    }
}

TEST(Digest, SizesResultBeforeFinishingAndUnknownTypes) {
    const uint32_t sizes[] = {16, 20, 32, 64, 48, 2, 4};
    for (size_t i = 0; i < std::size(kAllDigestTypes); ++i) {
        std::unique_ptr<cryptMAC> digest = CreateDigest(kAllDigestTypes[i]);
        ASSERT_TRUE(digest);
        EXPECT_EQ(digest->GetSize(), sizes[i]);
        const Bytes data = Text("123456789");
        digest->Update(data.data(), static_cast<uint32_t>(data.size()));
        const bool crc = kAllDigestTypes[i] == at::kCRC16 || kAllDigestTypes[i] == at::kCRC32;
        // Before finishing: an empty string, except for the CRCs, whose output buffer is returned.
        if (crc) {
            EXPECT_EQ(digest->GetResult(), digest->output);
        } else {
            EXPECT_NE(digest->GetResult(), digest->output);
            EXPECT_EQ(digest->GetResult()[0], 0);
        }
    }
    for (int32_t type : {-1, 0, 4, 99, 107, 1000, 65535}) EXPECT_FALSE(CreateDigest(type)) << type;
}

// The bit-at-a-time definition of CRC-16/MODBUS, for comparison with the sliced tables.
uint16_t Crc16Bitwise(const Bytes& data) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

TEST(Digest, CrcsAgainstZlibAndTheBitwiseDefinition) {
    std::printf("CRC-32 by carry-less multiplication: %s\n", cryptCRC32::CarrylessMultiplyAvailable() ? "available" : "not available");
    for (size_t length : {1, 7, 8, 9, 15, 16, 17, 31, 33, 63, 64, 65, 79, 80, 127, 128, 129, 255, 1024, 1031, 100003}) {
        const Bytes message = RandomBytes(length, static_cast<uint32_t>(length) * 3);
        const uint32_t crc32 = static_cast<uint32_t>(::crc32(0, message.data(), static_cast<uInt>(message.size())));
        const uint16_t crc16 = Crc16Bitwise(message);
        const uint8_t expected32[4] = {static_cast<uint8_t>(crc32 >> 24), static_cast<uint8_t>(crc32 >> 16),
                                       static_cast<uint8_t>(crc32 >> 8), static_cast<uint8_t>(crc32)};
        const uint8_t expected16[2] = {static_cast<uint8_t>(crc16 >> 8), static_cast<uint8_t>(crc16)};
        for (size_t chunk : kChunkings) {
            SCOPED_TRACE(testing::Message() << length << " bytes, chunk " << chunk);
            EXPECT_EQ(ToHex(DigestOf(at::kCRC32, message, chunk)), ToHex(expected32, 4));
            EXPECT_EQ(ToHex(DigestOf(at::kCRC16, message, chunk)), ToHex(expected16, 2));
            cryptCRC32 tables_only;
            tables_only.SetCarrylessMultiplyAllowed(false);
            EXPECT_EQ(ToHex(Feed(tables_only, message, chunk)), ToHex(expected32, 4));
        }
    }
}

// ---- HMAC ---------------------------------------------------------------------------------------

struct HmacVector {
    int32_t type;
    Bytes key;
    Bytes message;
    const char* mac;  // possibly truncated: compared as a prefix
};

const char kLongKeyText[] = "Test Using Larger Than Block-Size Key - Hash Key First";
const char kLongData2202[] = "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data";
const char kLongData4231[] =
    "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be hashed "
    "before being used by the HMAC algorithm.";

std::vector<HmacVector> PublishedHmacs() {
    return {
        // RFC 2202 section 2 (HMAC-MD5)
        {at::kMD5, Repeat(0x0b, 16), Text("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {at::kMD5, Text("Jefe"), Text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {at::kMD5, Repeat(0xaa, 16), Repeat(0xdd, 50), "56be34521d144c88dbb8c733f0e8b3f6"},
        {at::kMD5, Counting(25), Repeat(0xcd, 50), "697eaf0aca3a3aea3a75164746ffaa79"},
        {at::kMD5, Repeat(0x0c, 16), Text("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
        {at::kMD5, Repeat(0xaa, 80), Text(kLongKeyText), "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {at::kMD5, Repeat(0xaa, 80), Text(kLongData2202), "6f630fad67cda0ee1fb1f562db3aa53e"},
        // RFC 2202 section 3 (HMAC-SHA-1)
        {at::kSHA1, Repeat(0x0b, 20), Text("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {at::kSHA1, Text("Jefe"), Text("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {at::kSHA1, Repeat(0xaa, 20), Repeat(0xdd, 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {at::kSHA1, Counting(25), Repeat(0xcd, 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {at::kSHA1, Repeat(0x0c, 20), Text("Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {at::kSHA1, Repeat(0xaa, 80), Text(kLongKeyText), "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {at::kSHA1, Repeat(0xaa, 80), Text(kLongData2202), "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
        // RFC 4231 sections 4.2-4.8 (case 5 truncated to 128 bits)
        {at::kSHA256, Repeat(0x0b, 20), Text("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {at::kSHA256, Text("Jefe"), Text("what do ya want for nothing?"), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {at::kSHA256, Repeat(0xaa, 20), Repeat(0xdd, 50), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {at::kSHA256, Counting(25), Repeat(0xcd, 50), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {at::kSHA256, Repeat(0x0c, 20), Text("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {at::kSHA256, Repeat(0xaa, 131), Text(kLongKeyText), "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {at::kSHA256, Repeat(0xaa, 131), Text(kLongData4231), "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
        {at::kSHA384, Repeat(0x0b, 20), Text("Hi There"),
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
        {at::kSHA384, Text("Jefe"), Text("what do ya want for nothing?"),
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
        {at::kSHA384, Repeat(0xaa, 20), Repeat(0xdd, 50),
         "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27"},
        {at::kSHA384, Counting(25), Repeat(0xcd, 50),
         "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb"},
        {at::kSHA384, Repeat(0x0c, 20), Text("Test With Truncation"), "3abf34c3503b2a23a46efc619baef897"},
        {at::kSHA384, Repeat(0xaa, 131), Text(kLongKeyText),
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
        {at::kSHA384, Repeat(0xaa, 131), Text(kLongData4231),
         "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"},
        {at::kSHA512, Repeat(0x0b, 20), Text("Hi There"),
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
        {at::kSHA512, Text("Jefe"), Text("what do ya want for nothing?"),
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
        {at::kSHA512, Repeat(0xaa, 20), Repeat(0xdd, 50),
         "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb"},
        {at::kSHA512, Counting(25), Repeat(0xcd, 50),
         "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd"},
        {at::kSHA512, Repeat(0x0c, 20), Text("Test With Truncation"), "415fad6271580a531d4179bc891d87a6"},
        {at::kSHA512, Repeat(0xaa, 131), Text(kLongKeyText),
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
        {at::kSHA512, Repeat(0xaa, 131), Text(kLongData4231),
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58"},
    };
}

TEST(Hmac, PublishedVectorsInEveryChunking) {
    for (const HmacVector& v : PublishedHmacs()) {
        for (size_t chunk : kChunkings) {
            SCOPED_TRACE(testing::Message() << "type " << v.type << ", key " << v.key.size() << " bytes, chunk " << chunk);
            const std::string mac = ToHex(HmacOf(v.type, v.key, v.message, chunk));
            EXPECT_EQ(mac.substr(0, strlen(v.mac)), v.mac);
        }
    }
}

// Keys around the block sizes (a 100-byte key is hashed by SHA-256 only), empty and absent keys,
// empty messages: against OpenSSL's HMAC.
TEST(Hmac, KeyLengthsAndEmptyInputsAgainstOpenSsl) {
    const Bytes message = RandomBytes(300, 5);
    for (int32_t type : kHashTypes) {
        for (size_t key_length : {0, 1, 20, 63, 64, 65, 100, 127, 128, 129, 131, 200}) {
            SCOPED_TRACE(testing::Message() << "type " << type << ", key " << key_length << " bytes");
            const Bytes key = RandomBytes(key_length, static_cast<uint32_t>(key_length) + 1);
            EXPECT_EQ(ToHex(HmacOf(type, key, message, 1024)), ToHex(reference::Hmac(OpenSslName(type), key, message)));
            EXPECT_EQ(ToHex(HmacOf(type, key, {}, 0)), ToHex(reference::Hmac(OpenSslName(type), key, {})));
        }
        // The control keys with a valid pointer and length 0 when no secret key is set.
        std::unique_ptr<cryptHMAC> hmac = CreateHMAC(type);
        ASSERT_TRUE(hmac);
        const uint8_t nothing = 0;
        hmac->Init(&nothing, 0);
        EXPECT_EQ(ToHex(Feed(*hmac, message, 7)), ToHex(reference::Hmac(OpenSslName(type), {}, message)));
    }
}

// Also: keying and finishing write nothing past the output buffer (SHA-512's MAC fills it), seen
// by a guard byte in the padding that follows it in the 64-bit layout (the 32-bit one has none).
TEST(Hmac, SizesResultBeforeFinishingAndUnknownTypes) {
    const uint32_t sizes[] = {16, 20, 32, 64, 48};
    for (size_t i = 0; i < std::size(kHashTypes); ++i) {
        std::unique_ptr<cryptHMAC> hmac = CreateHMAC(kHashTypes[i]);
        ASSERT_TRUE(hmac);
        auto* object = reinterpret_cast<uint8_t*>(hmac.get());
        const size_t guard = static_cast<size_t>(hmac->output - object) + sizeof hmac->output;
        const bool padded = guard % alignof(void*) != 0;  // the next field is a pointer
        ASSERT_TRUE(padded || sizeof(void*) == 4);
        if (padded) object[guard] = 0xA5;
        const Bytes key = Text("key");
        hmac->Init(key.data(), 3);
        EXPECT_EQ(hmac->GetSize(), sizes[i]);
        hmac->Update(key.data(), 3);
        EXPECT_NE(hmac->GetResult(), hmac->output);
        EXPECT_EQ(hmac->GetResult()[0], 0);
        hmac->finish = 1;
        hmac->Update(nullptr, 0);
        if (padded) EXPECT_EQ(object[guard], 0xA5) << kHashTypes[i];
    }
    for (int32_t type : {-1, 0, 99, at::kCRC16, at::kCRC32, 1000}) EXPECT_FALSE(CreateHMAC(type)) << type;
}

// ---- Wycheproof HMAC files ----------------------------------------------------------------------

// Just enough JSON for the Wycheproof files: objects, arrays, strings, numbers, literals.
struct Json {
    std::string text;  // strings, and the spelling of numbers and literals
    std::vector<Json> items;
    // Object members as parallel lists (a pair of an incomplete type is refused by clang's checks).
    std::vector<std::string> keys;
    std::vector<Json> values;

    const Json& operator[](const char* key) const {
        static const Json kNone;
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return values[i];
        return kNone;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : p_(text.c_str()) {}
    bool Read(Json& value) {
        Skip();
        if (*p_ == '{' || *p_ == '[') {
            const char close = *p_++ == '{' ? '}' : ']';
            for (Skip(); *p_ != close;) {
                if (close == '}') {
                    Json key;
                    if (!ReadString(key.text)) return false;
                    Skip();
                    if (*p_++ != ':') return false;
                    value.keys.push_back(key.text);
                    value.values.emplace_back();
                    if (!Read(value.values.back())) return false;
                } else {
                    value.items.emplace_back();
                    if (!Read(value.items.back())) return false;
                }
                Skip();
                if (*p_ == ',') ++p_, Skip();
                else if (*p_ != close) return false;
            }
            ++p_;
            return true;
        }
        if (*p_ == '"') return ReadString(value.text);
        while (*p_ && !strchr(",]} \t\r\n", *p_)) value.text += *p_++;
        return !value.text.empty();
    }

private:
    void Skip() { while (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n') ++p_; }
    bool ReadString(std::string& out) {
        if (*p_++ != '"') return false;
        for (; *p_ != '"'; ++p_) {
            if (!*p_) return false;
            if (*p_ == '\\') {
                ++p_;
                if (*p_ == 'u') {  // only in comments here: keep a placeholder
                    for (int k = 0; k < 4 && p_[1]; ++k) ++p_;
                    out += '?';
                    continue;
                }
                out += *p_ == 'n' ? '\n' : *p_ == 't' ? '\t' : *p_;
                continue;
            }
            out += *p_;
        }
        ++p_;
        return true;
    }
    const char* p_;
};

TEST(Hmac, WycheproofVectors) {
    const std::string folder = std::string(OMBRIX_VECTORS_DIR) + "/wycheproof/";
    struct File {
        const char* name;
        int32_t type;
    };
    const File files[] = {{"hmac_sha1_test.json", at::kSHA1},
                          {"hmac_sha256_test.json", at::kSHA256},
                          {"hmac_sha384_test.json", at::kSHA384},
                          {"hmac_sha512_test.json", at::kSHA512}};
    for (const File& file : files) {
        std::ifstream stream(folder + file.name, std::ios::binary);
        if (!stream) {
            std::printf("skipped: Wycheproof HMAC vectors not found at %s%s\n", folder.c_str(), file.name);
            GTEST_SKIP() << "Wycheproof vectors not found in " << folder;
        }
        std::stringstream content;
        content << stream.rdbuf();
        Json root;
        ASSERT_TRUE(JsonReader(content.str()).Read(root)) << file.name;
        size_t count = 0;
        for (const Json& group : root["testGroups"].items) {
            const size_t tag_bytes = static_cast<size_t>(std::stoi(group["tagSize"].text)) / 8;
            for (const Json& test : group["tests"].items) {
                SCOPED_TRACE(testing::Message() << file.name << " tcId " << test["tcId"].text);
                const Bytes mac = HmacOf(file.type, FromHex(test["key"].text), FromHex(test["msg"].text), 1024);
                ASSERT_GE(mac.size(), tag_bytes);
                const bool matches = ToHex(mac.data(), tag_bytes) == test["tag"].text;
                EXPECT_EQ(matches, test["result"].text == "valid");
                ++count;
            }
        }
        EXPECT_EQ(count, static_cast<size_t>(std::stoi(root["numberOfTests"].text))) << file.name;
    }
}

// ---- While a FIPS library is bound ---------------------------------------------------------------

class FipsDigests : public ::testing::Test {
protected:
    void TearDown() override { BindCryptoLibrary(nullptr); }
};

TEST_F(FipsDigests, Md5UsesTheOwnEngineAndSha1TheFipsLibrary) {
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    ASSERT_TRUE(FipsMode());
    std::unique_ptr<cryptMAC> md5 = CreateDigest(at::kMD5);
    ASSERT_TRUE(md5);
    EXPECT_TRUE(static_cast<cryptMD5&>(*md5).UsesOwnEngine());
    for (const DigestVector& v : PublishedDigests()) {
        if (v.type != at::kMD5 && v.type != at::kSHA1) continue;
        std::unique_ptr<cryptMAC> digest = CreateDigest(v.type);
        ASSERT_TRUE(digest);
        // The signing protocol, as the RSA/DSA code runs it.
        digest->Init();
        digest->finish = 1;
        digest->Update(v.message.data(), static_cast<uint32_t>(v.message.size()));
        EXPECT_EQ(ToHex(digest->GetResult(), digest->GetSize()), v.digest);
    }
    EXPECT_EQ(ToHex(HmacOf(at::kSHA1, Repeat(0xaa, 80), Text(kLongData2202))), "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
    EXPECT_EQ(ToHex(DigestOf(at::kSHA512, Text("abc"))).substr(0, 16), "ddaf35a193617aba");

    BindCryptoLibrary(nullptr);
    std::unique_ptr<cryptMAC> linked = CreateDigest(at::kMD5);
    ASSERT_TRUE(linked);
    EXPECT_FALSE(static_cast<cryptMD5&>(*linked).UsesOwnEngine());
}

}  // namespace
}  // namespace ombrix
