// Sign, Verify and RSA Encrypt/Decrypt through the control, with keys, signatures and
// ciphertexts made by the openssl command (see tests/crypto/make_asymmetric_vectors.py).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "blobs/MemBlob.h"
#include "certificate.h"
#include "control/Ombrix.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "crypto/private_key.h"
#include "control/memory_blobs.h"
#include "test_util.h"

using ombrix::CMemBlob;
using ombrix::COmbrix;
using test::ComPtr;
using test::Bytes;
using test::Content;
using test::NewBlob;

namespace {

Bytes DataFile(const char* name) {
    std::ifstream file(std::string(ASYMMETRIC_DATA_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The key blob of a PEM private key, as a certificate object's key becomes one.
Bytes PrivateKeyBlob(const char* pem_file) {
    const Bytes pem = DataFile(pem_file);
    ombrix::Buffer blob;
    EXPECT_TRUE(ombrix::ImportPemPrivateKey(reinterpret_cast<const char*>(pem.data()), pem.size(), blob)) << pem_file;
    return Bytes(blob.Data(), blob.Data() + blob.Length());
}

ComPtr<IOmbrix> NewControl() {
    ComPtr<IOmbrix> control = test::Create<COmbrix, IOmbrix>();
    control->put_FireEvents(VARIANT_FALSE);
    return control;
}

struct SignatureFixture : ::testing::Test {
    void Key(const Bytes& bytes, IOmbrix* target = nullptr) {
        com::Variant value;
        V_VT(value.Get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(value.Get()) = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size())).Detach();
        ASSERT_EQ((target ? target : control.Get())->put_SecretKey(*value.Get()), S_OK);
    }
    bool Verifies(const Bytes& data, const Bytes& signature) {
        VARIANT_BOOL valid = VARIANT_TRUE;
        EXPECT_EQ(control->Verify(NewBlob(data).Get(), NewBlob(signature).Get(), &valid), S_OK);
        return valid == VARIANT_TRUE;
    }
    ComPtr<IOmbrix> control = NewControl();
};

TEST_F(SignatureFixture, RsaSignaturesAgreeWithOpenssl) {
    const Bytes message = DataFile("message.bin");
    ASSERT_FALSE(message.empty()) << "test data missing in " << ASYMMETRIC_DATA_DIR;
    Key(PrivateKeyBlob("rsa.pem"));
    for (CryptoTypes type : {RSASHA1, RSA}) {
        control->put_type(type);
        EXPECT_TRUE(Verifies(message, DataFile(type == RSA ? "rsa_md5.sig" : "rsa_sha1.sig")));
        // The signature is appended after what the output blob holds.
        auto out = NewBlob(Bytes{1, 2, 3, 4, 5});
        ASSERT_EQ(control->Sign(NewBlob(message).Get(), out.Get()), S_OK);
        const Bytes written = Content(out.Get());
        ASSERT_EQ(written.size(), 5u + 128u);
        EXPECT_EQ(Bytes(written.begin(), written.begin() + 5), (Bytes{1, 2, 3, 4, 5}));
        const Bytes signature(written.begin() + 5, written.end());
        EXPECT_TRUE(Verifies(message, signature));
        Bytes changed = message;
        changed[changed.size() / 2] ^= 1;
        EXPECT_FALSE(Verifies(changed, signature));
    }
    // A signature of any length or content is simply invalid.
    for (size_t length : {size_t{0}, size_t{1}, size_t{127}, size_t{128}, size_t{4000}}) EXPECT_FALSE(Verifies(message, Bytes(length, 0x5A)));

    // The OpenSSH public line verifies but cannot sign.
    const Bytes line = DataFile("rsa.pub");
    Key(line);
    control->put_type(RSASHA1);
    EXPECT_TRUE(Verifies(message, DataFile("rsa_sha1.sig")));
    test::ExpectErrorReport(control->Sign(NewBlob(message).Get(), NewBlob().Get()), ombrix::kErrSignFailed, COmbrix::kProgId);
}

// A certificate object whose PrivateKey is a PEM RSA key: SecretKey takes the key from it.
TEST_F(SignatureFixture, CertificatePrivateKeySigns) {
    const Bytes message = DataFile("message.bin");
    const Bytes pem = DataFile("rsa.pem");
    ASSERT_FALSE(pem.empty());
    ComPtr<ICertificate> certificate = test::Create<certstandin::CCertificate, ICertificate>();
    ASSERT_TRUE(certificate);
    const std::wstring text(pem.begin(), pem.end());
    com::Bstr pem_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    ASSERT_EQ(certificate->put_PrivateKey(pem_text.Get()), S_OK);
    com::Variant value;
    V_VT(value.Get()) = VT_DISPATCH;
    V_DISPATCH(value.Get()) = certificate.Detach();  // the VARIANT takes the reference
    ASSERT_EQ(control->put_SecretKey(*value.Get()), S_OK);
    control->put_type(RSASHA1);
    auto out = NewBlob();
    ASSERT_EQ(control->Sign(NewBlob(message).Get(), out.Get()), S_OK);
    EXPECT_EQ(Content(out.Get()), DataFile("rsa_sha1.sig"));  // PKCS#1 v1.5 signatures are deterministic
}

TEST_F(SignatureFixture, DsaSignsAndVerifies) {
    const Bytes message = DataFile("message.bin");
    ASSERT_FALSE(message.empty());
    Key(PrivateKeyBlob("dsa.pem"));
    control->put_type(DSASHA1);
    EXPECT_TRUE(Verifies(message, DataFile("dsa_sha1.sig")));
    auto out = NewBlob();
    ASSERT_EQ(control->Sign(NewBlob(message).Get(), out.Get()), S_OK);
    EXPECT_TRUE(Verifies(message, Content(out.Get())));
    control->put_type(DSA);
    EXPECT_TRUE(Verifies(message, DataFile("dsa_md5.sig")));
}

TEST_F(SignatureFixture, ChecksBeforeSigning) {
    auto data = NewBlob(Bytes{1}), out = NewBlob();
    EXPECT_EQ(control->Sign(nullptr, out.Get()), E_INVALIDARG);
    VARIANT_BOOL valid = VARIANT_TRUE;
    EXPECT_EQ(control->Verify(data.Get(), nullptr, &valid), E_INVALIDARG);
    control->put_type(RSA);
    test::ExpectErrorReport(control->Sign(data.Get(), out.Get()), ombrix::kErrNoSecretKey, COmbrix::kProgId);
    Key(Bytes{0, 0, 0, 7, 's', 's', 'h', '-', 'r', 's', 'a', 0, 0, 0, 9});  // a length past the end
    test::ExpectErrorReport(control->Sign(data.Get(), out.Get()), ombrix::kErrNoSecretKey, COmbrix::kProgId);
    control->put_type(AES);
    test::ExpectErrorReport(control->Sign(data.Get(), out.Get()), ombrix::kErrTypeNotForMethod, COmbrix::kProgId);
    test::ExpectErrorReport(control->Sign(data.Get(), nullptr), ombrix::kErrNotABlob, COmbrix::kProgId);

    // Data or a signature that cannot be measured or read is never signed or checked as if empty;
    // an output blob that refuses the signature is the call's result.
    control->put_type(RSA);
    Key(PrivateKeyBlob("rsa.pem"));
    test::FaultyBlob unreadable(Bytes{1, 2, 3}), unmeasurable(Bytes{1, 2, 3}), refusing;
    unreadable.fail_read = true;
    unmeasurable.fail_seek = true;
    refusing.fail_write = true;
    for (IBlob* bad : {static_cast<IBlob*>(&unreadable), static_cast<IBlob*>(&unmeasurable)}) {
        test::ExpectErrorReport(control->Sign(bad, out.Get()), ombrix::kErrReadBlobFailed, COmbrix::kProgId);
        test::ExpectErrorReport(control->Verify(bad, data.Get(), &valid), ombrix::kErrReadBlobFailed, COmbrix::kProgId);
        test::ExpectErrorReport(control->Verify(data.Get(), bad, &valid), ombrix::kErrReadBlobFailed, COmbrix::kProgId);
        EXPECT_EQ(valid, VARIANT_FALSE);
    }
    EXPECT_EQ(control->Sign(data.Get(), &refusing), test::kBlobFailure);
    EXPECT_TRUE(test::TakeErrorInfo().present);
}

// RSA as a cipher: 117 plaintext bytes per 128-byte block of a 1024-bit key; what the public key
// encrypts the private key decrypts, and what openssl encrypted decrypts too.
TEST_F(SignatureFixture, RsaEncryptsBlockByBlock) {
    control->put_type(RSA);
    control->put_Optimized(VARIANT_FALSE);
    Bytes plain(300);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7 + 1);
    Key(DataFile("rsa.pub"));
    auto encrypted = NewBlob();
    ASSERT_EQ(control->Encrypt(NewBlob(plain).Get(), encrypted.Get()), S_OK);
    EXPECT_EQ(Content(encrypted.Get()).size(), 3u * 128u);

    Key(PrivateKeyBlob("rsa.pem"));
    auto back = NewBlob();
    ASSERT_EQ(control->Decrypt(encrypted.Get(), back.Get()), S_OK);
    EXPECT_EQ(Content(back.Get()), plain);

    auto from_openssl = NewBlob();
    ASSERT_EQ(control->Decrypt(NewBlob(DataFile("rsa_public_enc.bin")).Get(), from_openssl.Get()), S_OK);
    EXPECT_EQ(Content(from_openssl.Get()), DataFile("plain.bin"));

    // CBC chains the blocks through a register as long as a block, zero at the start.
    control->put_Mode(CBC);
    Key(DataFile("rsa.pub"));
    com::Variant no_iv;
    control->put_InitVector(*no_iv.Get());
    ASSERT_EQ(control->Encrypt(NewBlob(plain).Get(), encrypted.Get()), S_OK);
    Key(PrivateKeyBlob("rsa.pem"));
    control->put_InitVector(*no_iv.Get());
    ASSERT_EQ(control->Decrypt(encrypted.Get(), back.Get()), S_OK);
    EXPECT_EQ(Content(back.Get()), plain);

    control->put_Mode(CFB);
    test::ExpectErrorReport(control->Encrypt(NewBlob(plain).Get(), encrypted.Get()), ombrix::kErrTypeNotForMethod, COmbrix::kProgId);
}

// Type RSA takes 117 bytes a block of a 1024-bit key, the last block only the data it holds:
// whatever the length, padding and Optimized, the private key gives back exactly what the public
// key encrypted, from ciphertexts of the same layout as always.
TEST_F(SignatureFixture, RsaRoundTripsEveryLengthWithEveryPadding) {
    const Bytes message = DataFile("message.bin");
    ASSERT_GE(message.size(), 400u);
    ComPtr<IOmbrix> decryptor = NewControl();
    Key(DataFile("rsa.pub"));
    Key(PrivateKeyBlob("rsa.pem"), decryptor.Get());
    for (IOmbrix* side : {control.Get(), decryptor.Get()}) side->put_type(RSA);
    for (VARIANT_BOOL optimized : {VARIANT_TRUE, VARIANT_FALSE}) {
        for (CryptoPadding padding : {PadNull, PadSpace, PadRandom, PadPKCS7}) {
            for (IOmbrix* side : {control.Get(), decryptor.Get()}) {
                side->put_Optimized(optimized);
                side->put_Padding(padding);
            }
            for (size_t length = 1; length <= 400; ++length) {
                const Bytes plain(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(length));
                auto encrypted = NewBlob(), back = NewBlob();
                ASSERT_EQ(control->Encrypt(NewBlob(plain).Get(), encrypted.Get()), S_OK);
                const size_t blocks = (length + 116) / 117 + (padding == PadPKCS7 && length % 117 == 0);
                ASSERT_EQ(Content(encrypted.Get()).size(), (optimized ? 16u : 0u) + blocks * 128u) << length;
                ASSERT_EQ(decryptor->Decrypt(encrypted.Get(), back.Get()), S_OK) << length << " " << padding << " " << optimized;
                ASSERT_EQ(Content(back.Get()), plain) << length << " " << padding << " " << optimized;
            }
        }
    }
}

// A block that the key cannot decrypt fails Decrypt with 30007 and leaves nothing of it in the
// output: another key, a changed byte, a cut ciphertext, and what the private key encrypted
// decrypted with the private key (the public key decrypts that). A block that the key cannot
// encrypt fails Encrypt with 30005.
TEST_F(SignatureFixture, RsaBlocksTheKeyCannotTakeFail) {
    control->put_type(RSA);
    const Bytes message = DataFile("message.bin");
    const Bytes plain(message.begin(), message.begin() + 300);
    auto out = NewBlob();
    auto fails = [&](const Bytes& ciphertext, const Bytes& key, int32_t code, bool encrypt = false) {
        Key(key);
        auto in = NewBlob(ciphertext);
        out = NewBlob(Bytes{7});
        test::ExpectErrorReport(encrypt ? control->Encrypt(in.Get(), out.Get()) : control->Decrypt(in.Get(), out.Get()), code,
                                COmbrix::kProgId);
    };
    for (VARIANT_BOOL optimized : {VARIANT_FALSE, VARIANT_TRUE}) {
        SCOPED_TRACE(optimized ? "Optimized" : "not Optimized");
        control->put_Optimized(optimized);
        const size_t header = optimized ? 16 : 0;
        Key(DataFile("rsa.pub"));
        auto encrypted = NewBlob();
        ASSERT_EQ(control->Encrypt(NewBlob(plain).Get(), encrypted.Get()), S_OK);
        const Bytes ciphertext = Content(encrypted.Get());
        ASSERT_EQ(ciphertext.size(), header + 3 * 128);
        const Bytes private_key = PrivateKeyBlob("rsa.pem");
        fails(ciphertext, PrivateKeyBlob("rsa3072.pem"), ombrix::kErrDecryptFailed);
        EXPECT_TRUE(Content(out.Get()).empty());
        Bytes changed = ciphertext;
        changed[header + 200] ^= 1;
        fails(changed, private_key, ombrix::kErrDecryptFailed);
        EXPECT_TRUE(Content(out.Get()).empty());
        fails(Bytes(ciphertext.begin(), ciphertext.end() - 1), private_key, ombrix::kErrDecryptFailed);
        EXPECT_TRUE(Content(out.Get()).empty());

        Key(private_key);
        ASSERT_EQ(control->Encrypt(NewBlob(plain).Get(), encrypted.Get()), S_OK);
        const Bytes private_encrypted = Content(encrypted.Get());
        fails(private_encrypted, private_key, ombrix::kErrDecryptFailed);
        EXPECT_TRUE(Content(out.Get()).empty());
        Key(DataFile("rsa.pub"));
        auto back = NewBlob();
        ASSERT_EQ(control->Decrypt(NewBlob(private_encrypted).Get(), back.Get()), S_OK);
        EXPECT_EQ(Content(back.Get()), plain);

        // A public key whose exponent is its modulus: "ssh-rsa", n, n.
        const size_t n_start = 4 + 7;
        size_t n_end = n_start + 4;
        for (size_t i = 0; i < 4; ++i) n_end += size_t{private_key[n_start + i]} << (24 - 8 * i);
        Bytes exponent_is_modulus(private_key.begin(), private_key.begin() + static_cast<std::ptrdiff_t>(n_end));
        exponent_is_modulus.insert(exponent_is_modulus.end(), private_key.begin() + n_start, private_key.begin() + static_cast<std::ptrdiff_t>(n_end));
        fails(plain, exponent_is_modulus, ombrix::kErrNoSecretKey, true);
        EXPECT_EQ(Content(out.Get()).size(), header);  // the header, and no block of zeros
    }
}

// Ciphertexts laid out block by block by openssl, as stored ones are: a short last block holds
// only its data, and PKCS#7 adds a whole block of padding after data that ends on a block
// boundary (with a 3072-bit key 373 bytes of the value 373 modulo 256). They decrypt to the data,
// with or without the header of Optimized.
TEST_F(SignatureFixture, RsaStoredCiphertextsStillDecrypt) {
    const Bytes plain = DataFile("plain.bin"), plain3072 = DataFile("plain3072.bin");
    ASSERT_EQ(plain.size(), 117u);
    Bytes plain_and_short = plain;
    plain_and_short.insert(plain_and_short.end(), plain.begin(), plain.begin() + 40);
    struct Case {
        const char* key;
        const char* ciphertext;
        const Bytes& expected;
        std::vector<CryptoPadding> paddings;
    };
    const Case cases[] = {{"rsa.pem", "rsa_blocks_short.bin", plain_and_short, {PadNull, PadSpace, PadRandom, PadPKCS7}},
                          {"rsa.pem", "rsa_blocks_pkcs7.bin", plain, {PadPKCS7}},
                          {"rsa3072.pem", "rsa3072_blocks_pkcs7.bin", plain3072, {PadPKCS7}}};
    control->put_type(RSA);
    for (const Case& c : cases) {
        Key(PrivateKeyBlob(c.key));
        for (CryptoPadding padding : c.paddings) {
            for (VARIANT_BOOL optimized : {VARIANT_FALSE, VARIANT_TRUE}) {
                SCOPED_TRACE(testing::Message() << c.ciphertext << " " << padding << " " << optimized);
                control->put_Padding(padding);
                control->put_Optimized(optimized);
                Bytes input;
                if (optimized) {
                    // A random byte, the length negated (big-endian), zeros.
                    const uint32_t negated = 0u - static_cast<uint32_t>(c.expected.size());
                    input = {0x5A, static_cast<uint8_t>(negated >> 24), static_cast<uint8_t>(negated >> 16),
                             static_cast<uint8_t>(negated >> 8), static_cast<uint8_t>(negated)};
                    input.resize(16, 0);
                }
                const Bytes stored = DataFile(c.ciphertext);
                input.insert(input.end(), stored.begin(), stored.end());
                auto back = NewBlob();
                ASSERT_EQ(control->Decrypt(NewBlob(input).Get(), back.Get()), S_OK);
                EXPECT_EQ(Content(back.Get()), c.expected);
            }
        }
    }
}

}  // namespace
