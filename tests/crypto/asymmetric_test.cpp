// cryptRSA, cryptDSS, the PEM private-key import and the random byte source: Wycheproof vectors,
// keys and signatures made by the openssl command and ssh-keygen, malformed keys and signatures,
// and a failing platform generator. The follow-up ctest entry checks with openssl the files this
// program writes (ours_*).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "binding/binding.h"
#include "base/error_codes.h"
#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "crypto/private_key.h"
#include "crypto/random_source.h"
#include "memory_port.h"
#include "pass_owner.h"
#include "test_bytes.h"

#include "asymmetric_vectors.inc"

namespace {

using ombrix::Buffer;
using ombrix::cryptASYMMETRIC;
using ombrix::cryptDSS;
using ombrix::cryptRSA;
namespace at = ombrix::algorithm_type;
using test::Bytes;
using test::FromHex;

std::string DataPath(const char* name) { return std::string(ASYMMETRIC_DATA_DIR) + "/" + name; }

Bytes ReadFile(const char* name) {
    Bytes bytes;
    FILE* file = fopen(DataPath(name).c_str(), "rb");
    if (!file) {
        ADD_FAILURE() << "cannot read " << DataPath(name);
        return bytes;
    }
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(file);
    return bytes;
}

void WriteFile(const char* name, const uint8_t* data, size_t length) {
    FILE* file = fopen(DataPath(name).c_str(), "wb");
    ASSERT_NE(file, nullptr) << DataPath(name);
    ASSERT_EQ(fwrite(data, 1, length, file), length);
    fclose(file);
}

// SSH wire encoding, written here independently of the byte buffer.
void PutUint32(Bytes& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}
void PutString(Bytes& out, const Bytes& value) {
    PutUint32(out, static_cast<uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}
void PutText(Bytes& out, const char* text) { PutString(out, Bytes(text, text + strlen(text))); }
void PutMpint(Bytes& out, const Bytes& magnitude) {
    size_t start = 0;
    while (start < magnitude.size() && magnitude[start] == 0) ++start;
    Bytes value(magnitude.begin() + static_cast<std::ptrdiff_t>(start), magnitude.end());
    if (!value.empty() && (value[0] & 0x80)) value.insert(value.begin(), 0);
    PutString(out, value);
}

Bytes KeyBlob(const char* type, std::initializer_list<const char*> hex_values) {
    Bytes blob;
    PutText(blob, type);
    for (const char* hex : hex_values) PutMpint(blob, FromHex(hex));
    return blob;
}

// The end offsets of the type string and of each value in a well-formed blob.
std::vector<size_t> ValueEnds(const Bytes& blob) {
    std::vector<size_t> ends;
    size_t at = 0;
    while (at + 4 <= blob.size()) {
        const uint32_t n = (uint32_t{blob[at]} << 24) | (uint32_t{blob[at + 1]} << 16) | (uint32_t{blob[at + 2]} << 8) | blob[at + 3];
        at += 4 + n;
        ends.push_back(at);
    }
    return ends;
}

Bytes Contents(const Buffer& buffer) { return Bytes(buffer.Data(), buffer.Data() + buffer.Length()); }

Bytes Bytes_(const std::string& text) { return Bytes(text.begin(), text.end()); }

int32_t Verify(cryptASYMMETRIC& key, const Bytes& data, const Bytes& signature, int32_t type) {
    return key.VerifyData(data.data(), static_cast<uint32_t>(data.size()), signature.data(),
                          static_cast<uint32_t>(signature.size()), type);
}

Bytes Sign(cryptASYMMETRIC& key, const Bytes& data, int32_t type) {
    std::unique_ptr<Buffer> signature = key.SignData(data.data(), static_cast<uint32_t>(data.size()), type);
    return signature ? Contents(*signature) : Bytes();
}

int32_t SetKey(cryptASYMMETRIC& key, const Bytes& blob) { return key.SetKey(blob.data(), static_cast<uint32_t>(blob.size())); }

Bytes ImportPem(const char* name) {
    const Bytes pem = ReadFile(name);
    Buffer blob;
    EXPECT_TRUE(ombrix::ImportPemPrivateKey(reinterpret_cast<const char*>(pem.data()), pem.size(), blob)) << name;
    return Contents(blob);
}

// The private blob without its private values: the blob up to the end of value `count`.
Bytes PublicPart(const Bytes& blob, size_t values) { return Bytes(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(ValueEnds(blob)[values])); }

#define SKIP_WITHOUT_VECTORS()                                                                           \
    if (!kVectorsAvailable) {                                                                            \
        printf("SKIPPED: Wycheproof vectors not found in %s (shared vectors folder absent)\n", OMBRIX_VECTORS_DIR); \
        GTEST_SKIP();                                                                                    \
    }

TEST(AsymmetricTest, FactoryMapsTypesToClasses) {
    for (int32_t type : {at::kRSA, at::kRSASHA1}) EXPECT_NE(dynamic_cast<cryptRSA*>(ombrix::CreateAsymmetric(type).get()), nullptr);
    for (int32_t type : {at::kDSA, at::kDSASHA1}) EXPECT_NE(dynamic_cast<cryptDSS*>(ombrix::CreateAsymmetric(type).get()), nullptr);
    for (int32_t type : {at::kDES, at::kMD5, at::kNone, 1002, 1100}) EXPECT_EQ(ombrix::CreateAsymmetric(type), nullptr);
    cryptRSA rsa;
    EXPECT_EQ(rsa.BlockSize(), 128);
    EXPECT_EQ(rsa.BlockReserve(), 11);
    EXPECT_EQ(rsa.KeySize(), 1024);
}

// PKCS#1 v1.5 is deterministic: signing reproduces the published signature exactly.
TEST(AsymmetricTest, WycheproofRsaSignatures) {
    SKIP_WITHOUT_VECTORS();
    int count = 0;
    for (const RsaSignatureVector* v = kRsaSignatureVectors; v->message; ++v, ++count) {
        SCOPED_TRACE(count);
        const Bytes message = FromHex(v->message), expected = FromHex(v->signature);
        cryptRSA private_key, public_key;
        ASSERT_EQ(SetKey(private_key, KeyBlob("ssh-rsa", {v->key[0], v->key[1], v->key[2], v->key[3], v->key[4], v->key[5], v->key[6], v->key[7]})), 1);
        EXPECT_TRUE(private_key.HasPrivateKey());
        EXPECT_EQ(Sign(private_key, message, v->type), expected);
        ASSERT_EQ(SetKey(public_key, KeyBlob("ssh-rsa", {v->key[0], v->key[1]})), 1);
        EXPECT_FALSE(public_key.HasPrivateKey());
        EXPECT_EQ(public_key.BlockSize(), static_cast<int32_t>(FromHex(v->key[0]).size()) - (v->key[0][0] == '0' && v->key[0][1] == '0'));
        EXPECT_EQ(Verify(public_key, message, expected, v->type), 1);
        EXPECT_EQ(Verify(public_key, message, expected, v->type == at::kRSA ? at::kRSASHA1 : at::kRSA), 0);
        Bytes damaged = expected;
        damaged[damaged.size() / 3] ^= 0x10;
        EXPECT_EQ(Verify(public_key, message, damaged, v->type), 0);
        Bytes other = message;
        other.push_back(0);
        EXPECT_EQ(Verify(public_key, other, expected, v->type), 0);
        EXPECT_EQ(public_key.SignData(message.data(), static_cast<uint32_t>(message.size()), v->type), nullptr);
    }
    EXPECT_EQ(count, 24);
}

TEST(AsymmetricTest, WycheproofDsaSha1) {
    SKIP_WITHOUT_VECTORS();
    int valid = 0, invalid = 0;
    for (const DsaVector* v = kDsaVectors; v->message; ++v) {
        SCOPED_TRACE(v->id);
        const char* const* k = kDsaKeys[v->key];
        cryptDSS dss;
        ASSERT_EQ(SetKey(dss, KeyBlob("ssh-dss", {k[0], k[1], k[2], k[3]})), 1);
        const int32_t result = Verify(dss, FromHex(v->message), FromHex(v->signature), at::kDSASHA1);
        if (v->result == 1) {
            EXPECT_EQ(result, 1);
            ++valid;
        } else if (v->result == 0) {
            EXPECT_EQ(result, 0);
            ++invalid;
        }
    }
    EXPECT_GT(valid, 0);
    EXPECT_GT(invalid, 250);
}

TEST(AsymmetricTest, RsaAgainstOpenssl) {
    const Bytes blob = ImportPem("rsa.pem");
    EXPECT_EQ(ImportPem("rsa_traditional.pem"), blob);
    ASSERT_EQ(ValueEnds(blob).size(), 9u);
    const Bytes message = ReadFile("message.bin");
    const Bytes openssl_sha1 = ReadFile("rsa_sha1.sig"), openssl_md5 = ReadFile("rsa_md5.sig");

    cryptRSA private_key;
    ASSERT_EQ(SetKey(private_key, blob), 1);
    EXPECT_TRUE(private_key.HasPrivateKey());
    EXPECT_EQ(private_key.BlockSize(), 128);
    const Bytes ours_sha1 = Sign(private_key, message, at::kRSASHA1), ours_md5 = Sign(private_key, message, at::kRSA);
    EXPECT_EQ(ours_sha1, openssl_sha1);
    EXPECT_EQ(ours_md5, openssl_md5);
    WriteFile("ours_rsa_sha1.sig", ours_sha1.data(), ours_sha1.size());
    WriteFile("ours_rsa_md5.sig", ours_md5.data(), ours_md5.size());
    EXPECT_EQ(Verify(private_key, message, openssl_sha1, at::kRSASHA1), 1);

    // Public keys: the OpenSSH line from ssh-keygen (with its comment and line end), the same
    // line without either, the blob in both value orders.
    const Bytes line = ReadFile("rsa.pub");
    const std::string text(line.begin(), line.end());
    const Bytes bare = Bytes_(text.substr(0, text.find(' ', 8)));
    const std::vector<size_t> ends = ValueEnds(blob);
    Bytes e_first(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(ends[0]));
    e_first.insert(e_first.end(), blob.begin() + static_cast<std::ptrdiff_t>(ends[1]), blob.begin() + static_cast<std::ptrdiff_t>(ends[2]));
    e_first.insert(e_first.end(), blob.begin() + static_cast<std::ptrdiff_t>(ends[0]), blob.begin() + static_cast<std::ptrdiff_t>(ends[1]));
    for (const Bytes& key : {line, bare, PublicPart(blob, 2), e_first}) {
        cryptRSA rsa;
        ASSERT_EQ(SetKey(rsa, key), 1);
        EXPECT_FALSE(rsa.HasPrivateKey());
        EXPECT_EQ(rsa.BlockSize(), 128);
        EXPECT_EQ(Verify(rsa, message, openssl_sha1, at::kRSASHA1), 1);
        EXPECT_EQ(Verify(rsa, message, openssl_md5, at::kRSA), 1);
        EXPECT_EQ(Verify(rsa, message, openssl_md5, at::kRSASHA1), 0);
        EXPECT_EQ(rsa.SignData(message.data(), static_cast<uint32_t>(message.size()), at::kRSASHA1), nullptr);
    }

    // The text form of a DSA key is refused by both classes; damaged Base64 by RSA.
    const Bytes dsa_line = ReadFile("dsa.pub");
    cryptRSA rsa;
    cryptDSS dss;
    EXPECT_EQ(SetKey(rsa, dsa_line), 0);
    EXPECT_EQ(SetKey(dss, dsa_line), 0);
    for (const std::string& damaged : std::vector<std::string>{text.substr(0, 20), "ssh-rsa AAAA*AAA", "ssh-rsa A", "ssh-rsa =AAA", "ssh-rsa         "})
        EXPECT_EQ(SetKey(rsa, Bytes_(damaged)), 0) << damaged;
}

TEST(AsymmetricTest, RsaBlocksAgainstOpenssl) {
    const Bytes blob = ImportPem("rsa.pem");
    const Bytes plain = ReadFile("plain.bin");
    ASSERT_EQ(plain.size(), 117u);
    cryptRSA private_key, public_key;
    ASSERT_EQ(SetKey(private_key, blob), 1);
    ASSERT_EQ(SetKey(public_key, PublicPart(blob, 2)), 1);
    uint8_t out[1024];

    // openssl's public-key block decrypts with the private key, its private-key block with the
    // public key.
    Bytes in = ReadFile("rsa_public_enc.bin");
    ASSERT_EQ(in.size(), 128u);
    private_key.SetSignificantLength(0);
    private_key.DecryptBlock(in.data(), out);
    ASSERT_EQ(private_key.SignificantLength(), 117);
    EXPECT_FALSE(private_key.BlockFailed());
    EXPECT_EQ(Bytes(out, out + 117), plain);
    in = ReadFile("rsa_private_enc.bin");
    public_key.SetSignificantLength(0);
    public_key.DecryptBlock(in.data(), out);
    ASSERT_EQ(public_key.SignificantLength(), 117);
    EXPECT_EQ(Bytes(out, out + 117), plain);

    // Ours: block type 1 padding is deterministic and must equal openssl's block.
    private_key.SetSignificantLength(117);
    private_key.EncryptBlock(plain.data(), out);
    EXPECT_EQ(Bytes(out, out + 128), in);
    WriteFile("ours_rsa_private_enc.bin", out, 128);
    public_key.SetSignificantLength(117);
    public_key.EncryptBlock(plain.data(), out);
    WriteFile("ours_rsa_public_enc.bin", out, 128);
    Bytes encrypted(out, out + 128);
    private_key.SetSignificantLength(0);
    private_key.DecryptBlock(encrypted.data(), out);
    ASSERT_EQ(private_key.SignificantLength(), 117);
    EXPECT_EQ(Bytes(out, out + 117), plain);

    // Significant length 0 means a full block of 117 bytes; a damaged block leaves the length.
    public_key.SetSignificantLength(0);
    public_key.EncryptBlock(plain.data(), out);
    encrypted.assign(out, out + 128);
    private_key.SetSignificantLength(0);
    private_key.DecryptBlock(encrypted.data(), out);
    EXPECT_EQ(private_key.SignificantLength(), 117);
    encrypted[5] ^= 1;
    private_key.SetSignificantLength(-7);
    private_key.DecryptBlock(encrypted.data(), out);
    EXPECT_EQ(private_key.SignificantLength(), -7);
    EXPECT_TRUE(private_key.BlockFailed());
    // A private-key block is not for the private key.
    in = ReadFile("rsa_private_enc.bin");
    private_key.DecryptBlock(in.data(), out);
    EXPECT_TRUE(private_key.BlockFailed());
    // Too much data for one block: no ciphertext, zeros.
    public_key.SetSignificantLength(118);
    memset(out, 0xAA, 128);
    public_key.EncryptBlock(plain.data(), out);
    EXPECT_EQ(Bytes(out, out + 128), Bytes(128, 0));
    EXPECT_TRUE(public_key.BlockFailed());
}

// RSA inside the streaming passes, with keys of 1024 and 3072 bits (whose 373 data bytes a block
// are more than a PKCS#7 byte counts): lengths around the block boundaries round-trip, and a
// block that the key cannot take ends the pass with an error, writing nothing of it.
TEST(AsymmetricTest, RsaInsideThePasses) {
    ombrix::testing_passes::TestOwner owner;
    using ombrix::testing_blobs::MemoryPort;
    using ombrix::Status;
    auto run = [&](const Bytes& key, const Bytes& input, bool encrypt, Bytes& output) {
        cryptRSA rsa;
        EXPECT_EQ(SetKey(rsa, key), 1);
        rsa.SetOwner(&owner);
        MemoryPort in(input), out;
        const Status code = encrypt ? rsa.EncryptBlob(in, out, false, nullptr) : rsa.DecryptBlob(in, out, nullptr);
        output = out.data;
        return code;
    };
    const Bytes message = ReadFile("message.bin");
    ASSERT_GE(message.size(), 800u);
    const Bytes blob = ImportPem("rsa.pem"), blob3072 = ImportPem("rsa3072.pem");
    Bytes encrypted, back;
    for (const Bytes* key : {&blob, &blob3072}) {
        const size_t d = key == &blob ? 117 : 373;
        for (int32_t padding : {at::kPadNull, at::kPadPKCS7}) {
            owner.padding = padding;
            for (size_t length : {size_t{1}, d - 1, d, d + 1, 2 * d}) {
                SCOPED_TRACE(testing::Message() << d << " " << padding << " " << length);
                const Bytes plain(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(length));
                ASSERT_EQ(run(PublicPart(*key, 2), plain, true, encrypted), Status::Ok());
                const size_t blocks = (length + d - 1) / d + (padding == at::kPadPKCS7 && length % d == 0);
                EXPECT_EQ(encrypted.size(), blocks * (d + 11));
                ASSERT_EQ(run(*key, encrypted, false, back), Status::Ok());
                EXPECT_EQ(back, plain);
            }
        }
    }

    // Another key, a changed byte, a block the private key made decrypted with the private key.
    const Bytes plain(message.begin(), message.begin() + 300);
    ASSERT_EQ(run(PublicPart(blob, 2), plain, true, encrypted), Status::Ok());
    EXPECT_EQ(run(blob3072, encrypted, false, back), Status::Code(ombrix::kErrDecryptFailed));
    EXPECT_TRUE(back.empty());
    encrypted[200] ^= 1;
    EXPECT_EQ(run(blob, encrypted, false, back), Status::Code(ombrix::kErrDecryptFailed));
    EXPECT_TRUE(back.empty());
    ASSERT_EQ(run(blob, plain, true, encrypted), Status::Ok());
    EXPECT_EQ(run(blob, encrypted, false, back), Status::Code(ombrix::kErrDecryptFailed));
    ASSERT_EQ(run(PublicPart(blob, 2), encrypted, false, back), Status::Ok());
    EXPECT_EQ(back, plain);
    // A public exponent equal to the modulus: no block can be encrypted.
    const std::vector<size_t> ends = ValueEnds(blob);
    Bytes exponent_is_modulus = PublicPart(blob, 1);
    exponent_is_modulus.insert(exponent_is_modulus.end(), blob.begin() + static_cast<std::ptrdiff_t>(ends[0]),
                               blob.begin() + static_cast<std::ptrdiff_t>(ends[1]));
    EXPECT_EQ(run(exponent_is_modulus, plain, true, encrypted), Status::Code(ombrix::kErrNoSecretKey));
    EXPECT_TRUE(encrypted.empty());
}

TEST(AsymmetricTest, DsaAgainstOpenssl) {
    const Bytes blob = ImportPem("dsa.pem");
    ASSERT_EQ(ValueEnds(blob).size(), 6u);
    const Bytes message = ReadFile("message.bin");
    const Bytes openssl_sha1 = ReadFile("dsa_sha1.sig"), openssl_md5 = ReadFile("dsa_md5.sig");
    cryptDSS private_key, public_key;
    ASSERT_EQ(SetKey(private_key, blob), 1);
    EXPECT_TRUE(private_key.HasPrivateKey());
    ASSERT_EQ(SetKey(public_key, PublicPart(blob, 4)), 1);
    EXPECT_FALSE(public_key.HasPrivateKey());

    EXPECT_EQ(Verify(public_key, message, openssl_sha1, at::kDSASHA1), 1);
    EXPECT_EQ(Verify(public_key, message, openssl_md5, at::kDSA), 1);
    EXPECT_EQ(Verify(public_key, message, openssl_sha1, at::kDSA), 0);
    EXPECT_EQ(Verify(private_key, message, openssl_sha1, at::kDSASHA1), 1);

    const Bytes ours_sha1 = Sign(private_key, message, at::kDSASHA1), ours_md5 = Sign(private_key, message, at::kDSA);
    ASSERT_FALSE(ours_sha1.empty());
    ASSERT_FALSE(ours_md5.empty());
    WriteFile("ours_dsa_sha1.sig", ours_sha1.data(), ours_sha1.size());
    WriteFile("ours_dsa_md5.sig", ours_md5.data(), ours_md5.size());
    EXPECT_EQ(public_key.SignData(message.data(), static_cast<uint32_t>(message.size()), at::kDSASHA1), nullptr);
    // A DSA key is no RSA key and the other way round.
    cryptRSA rsa;
    EXPECT_EQ(SetKey(rsa, blob), 0);
    EXPECT_EQ(SetKey(public_key, ImportPem("rsa.pem")), 0);
}

TEST(AsymmetricTest, PemImportRefusesOtherInput) {
    const Bytes pem = ReadFile("rsa_traditional.pem");
    const Bytes encrypted = ReadFile("rsa_encrypted.pem"), ec = ReadFile("ec.pem"), pub = ReadFile("rsa_pub.pem");
    Buffer blob;
    blob.Append("x", 1);
    auto import = [&](const Bytes& text, size_t length) {
        return ombrix::ImportPemPrivateKey(reinterpret_cast<const char*>(text.data()), length, blob);
    };
    // Encrypted (no pass phrase is given, none is asked for), a curve key, a public key.
    EXPECT_FALSE(import(encrypted, encrypted.size()));
    EXPECT_FALSE(import(ec, ec.size()));
    EXPECT_FALSE(import(pub, pub.size()));
    for (size_t length = 0; length < pem.size() - 30; ++length) EXPECT_FALSE(import(pem, length)) << length;
    std::mt19937 random(7);
    Bytes damaged = pem;
    for (int round = 0; round < 200; ++round) {
        damaged = pem;
        damaged[40 + random() % (pem.size() - 80)] ^= static_cast<uint8_t>(1 + random() % 255);
        import(damaged, damaged.size());  // may still decode; must not crash
    }
    Bytes noise(3000);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    EXPECT_FALSE(import(noise, noise.size()));
    EXPECT_FALSE(ombrix::ImportPemPrivateKey(nullptr, 10, blob));
    // Damaged texts that failed appended nothing: only "x" and any keys that still decoded.
    EXPECT_EQ(blob.Data()[0], 'x');
}

// Every cut of a valid blob: a cut inside a value is refused; a cut after the public values is
// a public key; a cut between private values is a private key that neither signs nor verifies.
TEST(AsymmetricTest, TruncatedKeysFailCleanly) {
    const Bytes message = ReadFile("message.bin");
    struct Case { Bytes blob; bool rsa; size_t public_values; Bytes signature; int32_t type; };
    const Case cases[] = {{ImportPem("rsa.pem"), true, 2, ReadFile("rsa_sha1.sig"), at::kRSASHA1},
                          {ImportPem("dsa.pem"), false, 4, ReadFile("dsa_sha1.sig"), at::kDSASHA1}};
    for (const Case& c : cases) {
        const std::vector<size_t> ends = ValueEnds(c.blob);
        for (size_t length = 0; length < c.blob.size(); ++length) {
            SCOPED_TRACE(length);
            std::unique_ptr<cryptASYMMETRIC> key = ombrix::CreateAsymmetric(c.type);
            const Bytes cut(c.blob.begin(), c.blob.begin() + static_cast<std::ptrdiff_t>(length));
            const int32_t result = SetKey(*key, cut);
            size_t boundary = 0;
            while (boundary < ends.size() && ends[boundary] != length) ++boundary;
            if (boundary >= ends.size() || boundary < c.public_values) {
                EXPECT_EQ(result, 0);
                continue;
            }
            ASSERT_EQ(result, 1);
            EXPECT_EQ(key->HasPrivateKey(), boundary > c.public_values);
            EXPECT_EQ(key->SignData(message.data(), static_cast<uint32_t>(message.size()), c.type), nullptr);
            EXPECT_EQ(Verify(*key, message, c.signature, c.type), boundary == c.public_values ? 1 : 0);
            if (c.rsa) {
                uint8_t out[1024];
                key->SetSignificantLength(10);
                key->EncryptBlock(message.data(), out);
                EXPECT_EQ(key->BlockFailed(), boundary > c.public_values);
                if (boundary > c.public_values) {
                    EXPECT_EQ(Bytes(out, out + 128), Bytes(128, 0));
                }
            }
        }
    }
}

TEST(AsymmetricTest, MalformedKeysAndSignatures) {
    const Bytes message = ReadFile("message.bin");
    const Bytes rsa_blob = ImportPem("rsa.pem"), dsa_blob = ImportPem("dsa.pem");
    std::mt19937 random(11);

    // Declared lengths beyond the end, in the type string and in a value.
    for (uint32_t huge : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x00040001u, 0x00001000u}) {
        for (const char* type : {"ssh-rsa", "ssh-dss"}) {
            Bytes blob;
            PutUint32(blob, huge);
            for (const char* c = type; *c; ++c) blob.push_back(static_cast<uint8_t>(*c));
            cryptRSA rsa;
            cryptDSS dss;
            EXPECT_EQ(SetKey(rsa, blob), 0);
            EXPECT_EQ(SetKey(dss, blob), 0);
            blob.clear();
            PutText(blob, type);
            PutUint32(blob, huge);
            blob.resize(blob.size() + 300, 0x5A);
            EXPECT_EQ(SetKey(rsa, blob), 0);
            EXPECT_EQ(SetKey(dss, blob), 0);
        }
    }
    // Modulus limits: 16384 bits accepted, 16385 bits, zero and even moduli refused.
    for (int bits : {16384, 16385}) {
        Bytes n((bits + 7) / 8, 0xFF);
        if (bits % 8) n[0] = static_cast<uint8_t>((1 << (bits % 8)) - 1);
        Bytes blob;
        PutText(blob, "ssh-rsa");
        PutMpint(blob, n);
        PutMpint(blob, {0x01, 0x00, 0x01});
        cryptRSA rsa;
        EXPECT_EQ(SetKey(rsa, blob), bits <= 16384 ? 1 : 0) << bits;
        if (bits <= 16384) {
            EXPECT_EQ(rsa.BlockSize(), 2048);
        }
    }
    for (const Bytes& n : {Bytes{}, Bytes(128, 0xFE), Bytes(128, 0)}) {
        Bytes blob;
        PutText(blob, "ssh-rsa");
        PutMpint(blob, n);
        PutMpint(blob, {0x01, 0x00, 0x01});
        cryptRSA rsa;
        EXPECT_EQ(SetKey(rsa, blob), 0);
    }
    // A private RSA key with an empty (zero) value is not used.
    {
        const std::vector<size_t> ends = ValueEnds(rsa_blob);
        Bytes blob(rsa_blob.begin(), rsa_blob.begin() + static_cast<std::ptrdiff_t>(ends[4]));
        PutUint32(blob, 0);
        blob.insert(blob.end(), rsa_blob.begin() + static_cast<std::ptrdiff_t>(ends[5]), rsa_blob.end());
        cryptRSA rsa;
        ASSERT_EQ(SetKey(rsa, blob), 1);
        EXPECT_TRUE(rsa.HasPrivateKey());
        EXPECT_FALSE(rsa.KeyUsable());
        EXPECT_EQ(Sign(rsa, message, at::kRSA), Bytes());
    }

    // Random bytes, alone and after a valid type string; single-byte damage of valid blobs.
    // Whatever SetKey accepts must sign and verify without crashing.
    auto exercise = [&](cryptASYMMETRIC& key, int32_t type) {
        Sign(key, message, type);
        Verify(key, message, Bytes(40, 0x30), type);
    };
    for (int round = 0; round < 400; ++round) {
        Bytes noise(random() % 600);
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
        for (const char* type : {"", "ssh-rsa", "ssh-dss"}) {
            Bytes blob;
            if (*type) PutText(blob, type);
            blob.insert(blob.end(), noise.begin(), noise.end());
            cryptRSA rsa;
            cryptDSS dss;
            if (SetKey(rsa, blob)) exercise(rsa, at::kRSASHA1);
            if (SetKey(dss, blob)) exercise(dss, at::kDSASHA1);
        }
    }
    for (const auto& [blob, type] : {std::pair{rsa_blob, at::kRSA}, std::pair{dsa_blob, at::kDSA}}) {
        for (size_t i = 0; i < blob.size(); i += 3) {
            Bytes damaged = blob;
            damaged[i] ^= static_cast<uint8_t>(1 + random() % 255);
            std::unique_ptr<cryptASYMMETRIC> key = ombrix::CreateAsymmetric(type);
            if (SetKey(*key, damaged)) exercise(*key, type);
        }
    }

    // Signatures of every length from 0 to 600 bytes, random and zero, and a null pointer.
    cryptRSA rsa;
    cryptDSS dss;
    ASSERT_EQ(SetKey(rsa, rsa_blob), 1);
    ASSERT_EQ(SetKey(dss, dsa_blob), 1);
    for (size_t length = 0; length <= 600; ++length) {
        Bytes signature(length);
        for (uint8_t& b : signature) b = static_cast<uint8_t>(random());
        EXPECT_EQ(Verify(rsa, message, signature, at::kRSASHA1), 0);
        EXPECT_EQ(Verify(dss, message, signature, at::kDSASHA1), 0);
        std::fill(signature.begin(), signature.end(), 0);
        EXPECT_EQ(Verify(rsa, message, signature, at::kRSA), 0);
        EXPECT_EQ(Verify(dss, message, signature, at::kDSA), 0);
    }
    EXPECT_EQ(rsa.VerifyData(message.data(), 10, nullptr, 128, at::kRSA), 0);
    EXPECT_EQ(dss.VerifyData(message.data(), 10, nullptr, 46, at::kDSA), 0);
    // The base class takes no key and signs nothing.
    cryptASYMMETRIC base;
    EXPECT_EQ(SetKey(base, rsa_blob), 0);
    EXPECT_EQ(base.SignData(message.data(), 10, at::kRSA), nullptr);
}

bool FailingGenerator(unsigned char*, size_t) { return false; }

TEST(AsymmetricTest, RandomSource) {
    const RAND_METHOD* original = ombrix::Crypto().RAND_get_rand_method();
    uint8_t a[32] = {}, b[32] = {};
    ASSERT_EQ(ombrix::RandomBytesSource(a, sizeof a), 1);
    ASSERT_EQ(ombrix::RandomBytesSource(b, sizeof b), 1);
    EXPECT_NE(memcmp(a, b, sizeof a), 0);
    EXPECT_NE(Bytes(a, a + 32), Bytes(32, 0));
    EXPECT_EQ(ombrix::RandomBytesSource(a, -1), 0);
    EXPECT_EQ(ombrix::RandomBytesSource(nullptr, 4), 0);

    // A failing platform generator: no bytes, no fallback, nothing installed.
    ombrix::SetRandomGeneratorForTesting(&FailingGenerator);
    memset(a, 0x77, sizeof a);
    EXPECT_EQ(ombrix::RandomBytesSource(a, sizeof a), 0);
    EXPECT_EQ(Bytes(a, a + 32), Bytes(32, 0));
    EXPECT_FALSE(ombrix::InstallRandomSource());
    EXPECT_EQ(ombrix::Crypto().RAND_get_rand_method(), original);
    ombrix::SetRandomGeneratorForTesting(nullptr);

    ASSERT_TRUE(ombrix::InstallRandomSource());
    const RAND_METHOD* installed = ombrix::Crypto().RAND_get_rand_method();
    ASSERT_NE(installed, nullptr);
    EXPECT_EQ(installed->bytes, &ombrix::RandomBytesSource);
    EXPECT_TRUE(ombrix::InstallRandomSource());
    EXPECT_EQ(ombrix::Crypto().RAND_get_rand_method(), installed);

    // The library now draws its padding and nonces from the source.
    const Bytes blob = ImportPem("rsa.pem"), dsa_blob = ImportPem("dsa.pem"), message = ReadFile("message.bin");
    cryptRSA private_key, public_key;
    cryptDSS dss;
    ASSERT_EQ(SetKey(private_key, blob), 1);
    ASSERT_EQ(SetKey(public_key, PublicPart(blob, 2)), 1);
    ASSERT_EQ(SetKey(dss, dsa_blob), 1);
    uint8_t out[1024];
    public_key.SetSignificantLength(50);
    public_key.EncryptBlock(message.data(), out);
    const Bytes encrypted(out, out + 128);
    private_key.SetSignificantLength(0);
    private_key.DecryptBlock(encrypted.data(), out);
    EXPECT_EQ(private_key.SignificantLength(), 50);
    EXPECT_EQ(Bytes(out, out + 50), Bytes(message.begin(), message.begin() + 50));
    EXPECT_FALSE(Sign(dss, message, at::kDSASHA1).empty());

    ombrix::SetRandomGeneratorForTesting(&FailingGenerator);
    public_key.EncryptBlock(message.data(), out);
    EXPECT_EQ(Bytes(out, out + 128), Bytes(128, 0));
    EXPECT_TRUE(public_key.BlockFailed());
    EXPECT_EQ(dss.SignData(message.data(), 100, at::kDSASHA1), nullptr);
    ombrix::SetRandomGeneratorForTesting(nullptr);
    ombrix::Crypto().RAND_set_rand_method(nullptr);
}

}  // namespace
