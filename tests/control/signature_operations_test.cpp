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
#include "control/errors.h"
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

struct SignatureFixture : ::testing::Test {
    SignatureFixture() {
        com::ComObject<COmbrix>* raw = nullptr;
        EXPECT_EQ(com::ComObject<COmbrix>::CreateInstance(&raw), S_OK);
        raw->QueryInterface(IID_IOmbrix, &control);
        raw->Release();
        control->put_FireEvents(VARIANT_FALSE);
    }
    void Key(const Bytes& bytes) {
        com::Variant value;
        V_VT(value.Get()) = VT_ARRAY | VT_UI1;
        V_ARRAY(value.Get()) = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size())).Detach();
        ASSERT_EQ(control->put_SecretKey(*value.Get()), S_OK);
    }
    bool Verifies(const Bytes& data, const Bytes& signature) {
        VARIANT_BOOL valid = VARIANT_TRUE;
        EXPECT_EQ(control->Verify(NewBlob(data).Get(), NewBlob(signature).Get(), &valid), S_OK);
        return valid == VARIANT_TRUE;
    }
    ComPtr<IOmbrix> control;
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
    com::ComObject<certstandin::CCertificate>* certificate = nullptr;
    ASSERT_EQ(com::ComObject<certstandin::CCertificate>::CreateInstance(&certificate), S_OK);
    const std::wstring text(pem.begin(), pem.end());
    com::Bstr pem_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    ASSERT_EQ(certificate->put_PrivateKey(pem_text.Get()), S_OK);
    com::Variant value;
    V_VT(value.Get()) = VT_DISPATCH;
    V_DISPATCH(value.Get()) = static_cast<ICertificate*>(certificate);  // the VARIANT takes the reference
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

}  // namespace
