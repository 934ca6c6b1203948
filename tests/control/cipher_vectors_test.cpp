// Every cipher through the control's Encrypt and Decrypt on memory blobs, against published
// test vectors and against other implementations: the openssl command, RC2 and RC5 written
// from their RFCs, Python's crypt(3) and zlib, and gzip (make_cipher_vectors.py). The control
// runs with Optimized false, so its output is the bare cipher output.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "blobs/MemBlob.h"
#include "control/Ombrix.h"
#include "control/memory_blobs.h"
#include "test_util.h"

using ombrix::CMemBlob;
using ombrix::COmbrix;
using test::ComPtr;
using test::Bytes;
using test::Content;
using test::FillRandom;
using test::FromHex;
using test::NewBlob;

namespace reference {
Bytes Rc2EcbEffective8(const Bytes& key, const Bytes& data);  // cipher_vectors_openssl.cpp
}

namespace {

struct CipherVector {
    const char* name;
    CryptoTypes type;
    CryptoModes mode;
    CryptoPadding padding;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
};

#include "cipher_vectors.inc"

const std::string kDataDir = CIPHER_DATA_DIR;

Bytes ReadData(const std::string& name) {
    std::ifstream file(kDataDir + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteData(const std::string& name, const Bytes& bytes) {
    std::ofstream file(kDataDir + "/" + name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A VT_ARRAY | VT_UI1 value holding `bytes`.
void PutByteArray(HRESULT (STDMETHODCALLTYPE IOmbrix::*put)(VARIANT), IOmbrix* control, const Bytes& bytes) {
    com::Variant value;
    V_VT(value.Get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.Get()) = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size())).Detach();
    EXPECT_EQ((control->*put)(*value.Get()), S_OK);
}

struct Settings {
    CryptoTypes type;
    CryptoModes mode = ECB;
    CryptoPadding padding = PadNull;
    CryptoCompression compression = NoCompression;
};

class CipherControl : public ::testing::Test {
protected:
    CipherControl() {
        EXPECT_EQ(control_->put_Optimized(VARIANT_FALSE), S_OK);
    }

    // One Encrypt or Decrypt of `input` with these settings; the IV is put after the type (which
    // sizes the IV register) and before every operation, since chaining overwrites the register.
    Bytes Run(bool encrypt, const Settings& settings, const Bytes& key, const Bytes& iv, const Bytes& input) {
        EXPECT_EQ(control_->put_type(settings.type), S_OK);
        EXPECT_EQ(control_->put_Mode(settings.mode), S_OK);
        EXPECT_EQ(control_->put_Padding(settings.padding), S_OK);
        EXPECT_EQ(control_->put_Compression(settings.compression), S_OK);
        if (!key.empty()) PutByteArray(&IOmbrix::put_SecretKey, control_.Get(), key);
        PutByteArray(&IOmbrix::put_InitVector, control_.Get(), iv);
        auto in = NewBlob(input), out = NewBlob();
        const HRESULT hr = encrypt ? control_->Encrypt(in.Get(), out.Get()) : control_->Decrypt(in.Get(), out.Get());
        EXPECT_EQ(hr, S_OK) << (encrypt ? "Encrypt" : "Decrypt");
        return Content(out.Get());
    }
    Bytes Encrypt(const Settings& s, const Bytes& key, const Bytes& iv, const Bytes& input) { return Run(true, s, key, iv, input); }
    Bytes Decrypt(const Settings& s, const Bytes& key, const Bytes& iv, const Bytes& input) { return Run(false, s, key, iv, input); }

    ComPtr<IOmbrix> control_ = test::Create<COmbrix, IOmbrix>();
};

struct PublishedVector {
    const char* source;
    CryptoTypes type;
    CryptoModes mode;
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
};

const PublishedVector kPublished[] = {
    {"FIPS 81 DES ECB", DES, ECB, "0123456789abcdef", "", "4e6f77206973207468652074696d6520666f7220616c6c20",
     "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    {"FIPS 81 DES CBC", DES, CBC, "0123456789abcdef", "1234567890abcdef",
     "4e6f77206973207468652074696d6520666f7220616c6c20", "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
    {"SP 800-67 Triple DES ECB", TripleDES, ECB, "0123456789abcdef23456789abcdef01456789abcdef0123", "",
     "54686520717566636b2062726f776e20666f78206a756d70", "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900"},
    {"FIPS-197 C.1 AES-128", AES, ECB, "000102030405060708090a0b0c0d0e0f", "", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"FIPS-197 C.2 AES-192", AES192, ECB, "000102030405060708090a0b0c0d0e0f1011121314151617", "",
     "00112233445566778899aabbccddeeff", "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"FIPS-197 C.3 AES-256", AES256, ECB, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
    {"SP 800-38A F.2.1 CBC-AES128", AES, CBC, "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"},
    {"SP 800-38A F.3.13 CFB128-AES128", AES, CFB, "2b7e151628aed2a6abf7158809cf4f3c",
     "000102030405060708090a0b0c0d0e0f", "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"},
    {"SP 800-38A F.4.1 OFB-AES128", AES, OFB, "2b7e151628aed2a6abf7158809cf4f3c", "000102030405060708090a0b0c0d0e0f",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51",
     "3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"},
    {"Schneier Blowfish, zero key", Blowfish, ECB, "0000000000000000", "", "0000000000000000", "4ef997456198dd78"},
    {"Schneier Blowfish, ones key", Blowfish, ECB, "ffffffffffffffff", "", "ffffffffffffffff", "51866fd5b85ecb8a"},
    {"Schneier Blowfish, 5-byte key", Blowfish, ECB, "f0e1d2c3b4", "", "fedcba9876543210", "b39e44481bdb1e6e"},
    {"Schneier Blowfish, 16-byte key", Blowfish, ECB, "f0e1d2c3b4a5968778695a4b3c2d1e0f", "", "fedcba9876543210",
     "93142887ee3be15c"},
    // RFC 2144 B.1 with the bytes of each 4-byte half reversed (plaintext 0123456789ABCDEF,
    // ciphertext 238B4FE5847E44B2 in the RFC's byte order).
    {"RFC 2144 B.1 CAST-128", Cast, ECB, "0123456712345678234567893456789a", "", "67452301efcdab89",
     "e54f8b23b2447e84"},
    // RFC 6229, 128-bit key: the key stream at offsets 0 and 16 (encryption of zeros).
    {"RFC 6229 RC4", RC4, ECB, "0102030405060708090a0b0c0d0e0f10", "",
     "0000000000000000000000000000000000000000000000000000000000000000",
     "9ac7cc9a609d1ef7b2932899cde41b975248c4959014126a6e8a84f11d1a9e1c"},
    // RFC 2040 section 9, RC5-CBC with 16 rounds and a 16-byte key.
    {"RFC 2040 RC5-32/16/16 CBC", RC5, CBC, "01020304050607081020304050607080", "0102030405060708",
     "1020304050607080", "dad6bda9dfe8f7e8"},
};

TEST_F(CipherControl, PublishedVectors) {
    for (const PublishedVector& v : kPublished) {
        SCOPED_TRACE(v.source);
        const Settings settings{v.type, v.mode};
        EXPECT_EQ(Encrypt(settings, FromHex(v.key), FromHex(v.iv), FromHex(v.plain)), FromHex(v.cipher));
        EXPECT_EQ(Decrypt(settings, FromHex(v.key), FromHex(v.iv), FromHex(v.cipher)), FromHex(v.plain));
    }
}

// openssl enc on whole blocks and with PKCS#7, RC2 and RC5 from their RFCs, crypt(3), and keys
// shorter or longer than the algorithm's.
TEST_F(CipherControl, GeneratedVectors) {
    ASSERT_GE(std::size(kCipherVectors), 100u);
    for (size_t i = 0; i < std::size(kCipherVectors); ++i) {
        const CipherVector& v = kCipherVectors[i];
        SCOPED_TRACE("row " + std::to_string(i) + ": " + v.name);
        const Settings settings{v.type, v.mode, v.padding};
        EXPECT_EQ(Encrypt(settings, FromHex(v.key), FromHex(v.iv), FromHex(v.plain)), FromHex(v.cipher));
        if (v.type == UNIXcrypt3) continue;  // a hash: nothing to decrypt
        EXPECT_EQ(Decrypt(settings, FromHex(v.key), FromHex(v.iv), FromHex(v.cipher)), FromHex(v.plain));
    }
}

TEST_F(CipherControl, BlowfishTakesAShortKeyAsGiven) {
    // Published result for the 5-byte key; with 11 zero bytes appended the key is another one.
    const Bytes plain = FromHex("fedcba9876543210");
    const Bytes five = Encrypt({Blowfish}, FromHex("f0e1d2c3b4"), {}, plain);
    const Bytes sixteen = Encrypt({Blowfish}, FromHex("f0e1d2c3b40000000000000000000000"), {}, plain);
    EXPECT_EQ(five, FromHex("b39e44481bdb1e6e"));
    EXPECT_EQ(sixteen.size(), 8u);
    EXPECT_NE(five, sixteen);
}

TEST_F(CipherControl, Rc2HasAnEffectiveKeyLengthOf8Bits) {
    std::mt19937 rng(2268);
    for (size_t key_length : {16u, 16u, 5u, 40u}) {
        Bytes key(key_length), plain(8 * (1 + rng() % 6));
        FillRandom(key, rng);
        FillRandom(plain, rng);
        Bytes library_key = key;
        if (library_key.size() < 16) library_key.resize(16, 0);
        SCOPED_TRACE("key of " + std::to_string(key_length) + " bytes");
        EXPECT_EQ(Encrypt({RC2}, key, {}, plain), reference::Rc2EcbEffective8(library_key, plain));
    }
}

// AES-256-CBC with PKCS#7 over 200000 bytes, more than one chunk of the pass, as openssl does it.
TEST_F(CipherControl, LongDataMatchesOpenssl) {
    const Bytes plain = ReadData("input.bin"), expected = ReadData("input.aes256");
    ASSERT_EQ(plain.size(), 200000u);
    const Settings settings{AES256, CBC, PadPKCS7};
    EXPECT_TRUE(Encrypt(settings, FromHex(kLongDataKey), FromHex(kDataIv), plain) == expected);
    EXPECT_TRUE(Decrypt(settings, FromHex(kLongDataKey), FromHex(kDataIv), expected) == plain);
}

// What gzip, zlib.compress and openssl made decrypts to the input; what the control makes is
// written for the follow-up check by gzip, Python's zlib and openssl.
TEST_F(CipherControl, CompressionAgainstGzipZlibAndOpenssl) {
    const Bytes plain = ReadData("input.bin");
    ASSERT_EQ(plain.size(), 200000u);
    const Bytes key = FromHex(kCompressionKey), iv = FromHex(kDataIv);
    for (const char* name : {"control.gz", "control.zlib", "control.zlib.aes"}) std::remove((kDataDir + "/" + name).c_str());

    const Settings gzip_none{None, ECB, PadNull, GZipCompression};
    const Settings zlib_none{None, ECB, PadNull, ZlibCompression};
    const Settings gzip_aes{AES, CBC, PadPKCS7, GZipCompression};
    const Settings zlib_aes{AES, CBC, PadPKCS7, ZlibCompression};
    EXPECT_TRUE(Decrypt(gzip_none, {}, {}, ReadData("input.bin.gz")) == plain) << "gzip -9 -n file";
    EXPECT_TRUE(Decrypt(zlib_none, {}, {}, ReadData("input.zlib")) == plain) << "zlib.compress stream";
    EXPECT_TRUE(Decrypt(gzip_aes, key, iv, ReadData("input.gz.aes")) == plain) << "openssl aes-128-cbc of a gzip file";

    const Bytes gz = Encrypt(gzip_none, {}, {}, plain);
    ASSERT_GE(gz.size(), 18u);
    EXPECT_EQ(Bytes(gz.begin(), gz.begin() + 10), FromHex("1f8b0800000000000000"));
    WriteData("control.gz", gz);
    WriteData("control.zlib", Encrypt(zlib_none, {}, {}, plain));
    WriteData("control.zlib.aes", Encrypt(zlib_aes, key, iv, plain));
}

TEST_F(CipherControl, KeySizeAndBlockSizeOfEveryType) {
    struct Sizes {
        CryptoTypes type;
        short key_size;
        short block_size;
    };
    const Sizes kSizes[] = {
        {DES, 8, 8},        {TripleDES, 24, 8}, {AES, 16, 16},      {AES192, 24, 16},  {AES256, 32, 16},
        {Blowfish, 16, 8},  {Cast, 16, 8},      {RC2, 16, 8},       {RC4, 16, 1},      {RC5, 16, 8},
        {UNIXcrypt, 8, 0},  {UNIXcrypt3, 8, 0}, {None, 0, 0},       {MD5, 0, 16},      {SHA1, 0, 20},
        {SHA256, 0, 32},    {SHA512, 0, 64},    {SHA384, 0, 48},    {CRC16, 0, 2},     {CRC32, 0, 4},
        {RSA, 0, 0},        {DSA, 0, 0},        {RSASHA1, 0, 0},    {DSASHA1, 0, 0},
    };
    for (const Sizes& s : kSizes) {
        SCOPED_TRACE("type " + std::to_string(s.type));
        ASSERT_EQ(control_->put_type(s.type), S_OK);
        short key_size = -1, block_size = -1;
        EXPECT_EQ(control_->get_KeySize(&key_size), S_OK);
        EXPECT_EQ(control_->get_BlockSize(&block_size), S_OK);
        EXPECT_EQ(key_size, s.key_size);
        EXPECT_EQ(block_size, s.block_size);
    }
}

}  // namespace
