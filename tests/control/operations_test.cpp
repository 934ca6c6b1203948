// Encrypt and Decrypt through the control: argument and key checks, the optimized header, the IV
// register carried between calls, events around the pass, and the debug log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blobs/MemBlob.h"
#include "control/Ombrix.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "control/fake_sink.h"
#include "control/memory_blobs.h"
#include "test_util.h"

using ombrix::CMemBlob;
using ombrix::COmbrix;
using Control = com::ComObject<COmbrix>;
using test::ComPtr;
using test::Bytes;
using test::Content;
using test::NewBlob;

namespace {

void PutBytes(HRESULT (STDMETHODCALLTYPE IOmbrix::*put)(VARIANT), IOmbrix* control, const std::string& text) {
    com::Variant value;
    V_VT(value.Get()) = VT_BSTR;
    std::wstring wide(text.begin(), text.end());
    V_BSTR(value.Get()) = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    EXPECT_EQ((control->*put)(*value.Get()), S_OK);
}

struct ControlFixture : ::testing::Test {
    ControlFixture() {
        PutBytes(&IOmbrix::put_SecretKey, control.Get(), "0123456789abcdef");
    }
    void Iv(const std::string& text = "initialvector123") { PutBytes(&IOmbrix::put_InitVector, control.Get(), text); }

    ComPtr<IOmbrix> control = test::Create<COmbrix, IOmbrix>();
};

TEST_F(ControlFixture, OptimizedAesCarriesTheNegatedLengthAndCutsThePadding) {
    Bytes plain(20);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7);
    auto in = NewBlob(plain), out = NewBlob(), back = NewBlob();
    Iv();
    ASSERT_EQ(control->Encrypt(in.Get(), out.Get()), S_OK);
    const Bytes encrypted = Content(out.Get());
    ASSERT_EQ(encrypted.size(), 48u);
    EXPECT_EQ(Bytes(encrypted.begin() + 1, encrypted.begin() + 5), (Bytes{0xFF, 0xFF, 0xFF, 0xEC}));
    EXPECT_EQ(Bytes(encrypted.begin() + 5, encrypted.begin() + 9), Bytes(4, 0));
    Iv();
    ASSERT_EQ(control->Decrypt(out.Get(), back.Get()), S_OK);
    EXPECT_EQ(Content(back.Get()), plain);

    // Without the header: the padded blocks, and all of them come back.
    control->put_Optimized(VARIANT_FALSE);
    Iv();
    ASSERT_EQ(control->Encrypt(in.Get(), out.Get()), S_OK);
    EXPECT_EQ(Content(out.Get()).size(), 32u);
    Iv();
    ASSERT_EQ(control->Decrypt(out.Get(), back.Get()), S_OK);
    Bytes padded = plain;
    padded.resize(32, 0);
    EXPECT_EQ(Content(back.Get()), padded);

    // DES: an 8-byte header.
    control->put_Optimized(VARIANT_TRUE);
    control->put_type(DES);
    ASSERT_EQ(control->Encrypt(in.Get(), out.Get()), S_OK);
    EXPECT_EQ(Content(out.Get()).size(), 8u + 24u);
}

TEST_F(ControlFixture, OptimizedDecryptRefusesInputWithoutAPlausibleHeader) {
    auto out = NewBlob();
    // Empty, and too short to hold the length field.
    for (const Bytes& input : {Bytes{}, Bytes{1, 2, 3, 4}}) {
        auto in = NewBlob(input);
        test::ExpectErrorReport(control->Decrypt(in.Get(), out.Get()), ombrix::kErrDecryptFailed, COmbrix::kProgId);
    }
    // A stated length beyond the input (bytes 1-4 = 00 00 00 01: minus one, 4 GiB - 1).
    Bytes stated(32, 0);
    stated[4] = 1;
    auto in = NewBlob(stated);
    test::ExpectErrorReport(control->Decrypt(in.Get(), out.Get()), ombrix::kErrDecryptFailed, COmbrix::kProgId);

    // An empty input encrypts to a header only, with length zero, and decrypts to nothing.
    auto empty = NewBlob(), header = NewBlob(), nothing = NewBlob(Bytes{9});
    ASSERT_EQ(control->Encrypt(empty.Get(), header.Get()), S_OK);
    const Bytes bytes = Content(header.Get());
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_EQ(Bytes(bytes.begin() + 1, bytes.begin() + 5), Bytes(4, 0));
    ASSERT_EQ(control->Decrypt(header.Get(), nothing.Get()), S_OK);
    EXPECT_TRUE(Content(nothing.Get()).empty());
}

TEST_F(ControlFixture, ArgumentKeyAndTypeChecks) {
    auto in = NewBlob(Bytes{1, 2, 3}), out = NewBlob();
    EXPECT_EQ(control->Encrypt(nullptr, out.Get()), E_INVALIDARG);
    EXPECT_EQ(control->Decrypt(nullptr, out.Get()), E_INVALIDARG);
    // An object that is not a blob, and a missing output.
    ComPtr<IBlob> not_a_blob;
    control->QueryInterface(IID_IOmbrix, reinterpret_cast<void**>(not_a_blob.GetAddressOf()));
    test::ExpectErrorReport(control->Encrypt(in.Get(), not_a_blob.Get()), ombrix::kErrNotABlob, COmbrix::kProgId);
    test::ExpectErrorReport(control->Decrypt(not_a_blob.Get(), out.Get()), ombrix::kErrNotABlob, COmbrix::kProgId);
    test::ExpectErrorReport(control->Encrypt(in.Get(), nullptr), ombrix::kErrNotABlob, COmbrix::kProgId);

    control->put_type(SHA1);
    test::ExpectErrorReport(control->Encrypt(in.Get(), out.Get()), ombrix::kErrTypeNotForMethod, COmbrix::kProgId);
    control->put_type(AES);
    com::Variant empty;
    control->put_SecretKey(*empty.Get());
    test::ExpectErrorReport(control->Encrypt(in.Get(), out.Get()), ombrix::kErrNoSecretKey, COmbrix::kProgId);
    EXPECT_TRUE(Content(out.Get()).empty());  // nothing written before the checks passed

    // Type None needs no key and copies the data.
    control->put_type(None);
    control->put_Optimized(VARIANT_FALSE);
    ASSERT_EQ(control->Encrypt(in.Get(), out.Get()), S_OK);
    EXPECT_EQ(Content(out.Get()), (Bytes{1, 2, 3}));
}

TEST_F(ControlFixture, CbcChainsThroughTheIvRegisterFromOneCallToTheNext) {
    control->put_Mode(CBC);
    control->put_Optimized(VARIANT_FALSE);
    const Bytes plain(32, 0x5A);
    auto in = NewBlob(plain), first = NewBlob(), second = NewBlob(), again = NewBlob(), joined = NewBlob();
    Iv();
    ASSERT_EQ(control->Encrypt(in.Get(), first.Get()), S_OK);
    ASSERT_EQ(control->Encrypt(in.Get(), second.Get()), S_OK);
    Iv();
    ASSERT_EQ(control->Encrypt(in.Get(), again.Get()), S_OK);
    EXPECT_EQ(Content(first.Get()), Content(again.Get()));
    EXPECT_NE(Content(first.Get()), Content(second.Get()));
    // The two calls equal one CBC pass over the doubled data.
    Bytes doubled = plain;
    doubled.insert(doubled.end(), plain.begin(), plain.end());
    auto both = NewBlob(doubled);
    Iv();
    ASSERT_EQ(control->Encrypt(both.Get(), joined.Get()), S_OK);
    Bytes expected = Content(first.Get());
    const Bytes tail = Content(second.Get());
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(Content(joined.Get()), expected);
}

TEST_F(ControlFixture, AbortFromAProgressHandlerKeepsWhatWasWrittenAndStillFiresDone) {
    std::vector<test::Call> calls;
    test::FakeSink sink(1, calls);
    sink.on_invoke = [&] {
        if (calls.back().id == 1) control->Abort();
    };
    DWORD cookie = 0;
    auto point = test::EventsPoint(control.Get());
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    control->put_Optimized(VARIANT_FALSE);
    auto in = NewBlob(Bytes(1000000, 1)), out = NewBlob();
    test::ExpectErrorReport(control->Encrypt(in.Get(), out.Get()), ombrix::kErrAborted, COmbrix::kProgId);
    EXPECT_EQ(Content(out.Get()).size(), 128000u);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].id, 1);
    EXPECT_EQ(calls[calls.size() - 2].arguments, (std::vector<LONG>{1000000, 1000000}));
    EXPECT_EQ(calls.back().id, 0);  // Done
    point->Unadvise(cookie);
}

TEST(ControlOperations, AControlReleasedByAHandlerIsNeverTouchedAgain) {
    for (DISPID release_on : {1, 0}) {
        Control* raw = nullptr;
        ASSERT_EQ(Control::CreateInstance(&raw), S_OK);
        std::vector<test::Call> calls;
        test::FakeSink sink(1, calls);
        bool released = false;
        sink.on_invoke = [&] {
            if (!released && calls.back().id == release_on) {
                released = true;
                raw->Release();
            }
        };
        DWORD cookie = 0;
        test::EventsPoint(raw)->Advise(&sink, &cookie);
        raw->put_type(None);
        raw->put_Optimized(VARIANT_FALSE);
        auto in = NewBlob(Bytes(300000, 2)), out = NewBlob();
        const HRESULT hr = raw->Encrypt(in.Get(), out.Get());
        if (release_on == 1) {
            test::ExpectErrorReport(hr, ombrix::kErrAborted, COmbrix::kProgId);
        } else {
            EXPECT_EQ(hr, E_FAIL);
        }
        EXPECT_TRUE(released);
    }
}

// A FIPS library without the optional EVP entries runs AES through the AES_* entries: the
// same bytes and the same chaining state as the linked library's EVP runs.
TEST_F(ControlFixture, FipsLibraryGivesTheSameCiphertext) {
    Bytes plain(300001);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    auto in = NewBlob(plain);
    control->put_Optimized(VARIANT_FALSE);  // the header holds random bytes
    auto run = [&](CryptoTypes type, CryptoModes mode) {
        control->put_type(type);
        control->put_Mode(mode);
        Iv();
        auto out = NewBlob();
        EXPECT_EQ(control->Encrypt(in.Get(), out.Get()), S_OK);
        auto again = NewBlob();
        EXPECT_EQ(control->Encrypt(in.Get(), again.Get()), S_OK);  // continues from the IV register
        Bytes both = Content(out.Get()), second = Content(again.Get());
        both.insert(both.end(), second.begin(), second.end());
        return both;
    };
    const CryptoTypes types[] = {AES, AES192, AES256, DES, TripleDES};
    std::vector<Bytes> linked;
    for (CryptoTypes type : types)
        for (CryptoModes mode : {ECB, CBC, OFB}) linked.push_back(run(type, mode));

    control->put_type(RC5);
    com::Bstr library(SysAllocString(L"fips_switch_ok.dll"));
    ASSERT_EQ(control->put_FIPS(library.Get()), S_OK);
    auto out = NewBlob();
    // RC5 was chosen before the FIPS library was bound; it has no functions there.
    test::ExpectErrorReport(control->Encrypt(in.Get(), out.Get()), ombrix::kErrFipsUnsupported, COmbrix::kProgId);
    size_t k = 0;
    for (CryptoTypes type : types)
        for (CryptoModes mode : {ECB, CBC, OFB}) EXPECT_EQ(run(type, mode), linked[k++]) << type << " " << mode;
    com::Bstr none(SysAllocString(L""));
    control->put_FIPS(none.Get());
}

// A blob that reports 5 GiB through IBlob64 and holds nothing.
class HugeBlob final : public IBlob, public IBlob64 {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBlob)) *result = static_cast<IBlob*>(this);
        if (IsEqualIID(riid, IID_IBlob64)) *result = static_cast<IBlob64*>(this);
        if (!*result) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP Read(LONG, SAFEARRAY** data) override { *data = nullptr; return S_OK; }
    STDMETHODIMP Write(SAFEARRAY**) override { return S_OK; }
    STDMETHODIMP Seek(LONG, LONG, LONG* position) override { if (position) *position = 0; return S_OK; }
    STDMETHODIMP SetSize(LONG) override { return S_OK; }
    STDMETHODIMP Seek64(LONG, LONG, LONG origin, LONG* high, LONG* low) override {
        *high = origin == 2 ? 5 : 0;
        *low = 0;
        return S_OK;
    }
    STDMETHODIMP SetSize64(LONG, LONG) override { return S_OK; }
};

TEST_F(ControlFixture, OptimizedEncryptRefusesInputsItsLengthFieldCannotHold) {
    HugeBlob huge;
    auto out = NewBlob();
    test::ExpectErrorReport(control->Encrypt(static_cast<IBlob*>(&huge), out.Get()), ombrix::kErrInvalidPropertyValue, COmbrix::kProgId);
    EXPECT_TRUE(Content(out.Get()).empty());
}

TEST_F(ControlFixture, DebugLogHasOneLinePerStep) {
    const std::wstring path = test::TempPath(L"operations.log");
    DeleteFileW(path.c_str());
    com::Bstr file(SysAllocString(path.c_str()));
    control->put_DebugFile(file.Get());
    control->put_Optimized(VARIANT_FALSE);
    auto in = NewBlob(Bytes(10, 3)), out = NewBlob();
    ASSERT_EQ(control->Encrypt(in.Get(), out.Get()), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path),
              "New instance of Ombrix started\r\nEncrypt start\r\nEncrypt::Input blob ok\r\nEncrypt::Output blob ok\r\n"
              "Encrypt::Password ok\r\nEncrypt::Cipher ok\r\nEncrypt::SetSize ok\r\nEncrypt::Seek ok\r\n"
              "Encrypt::Starting to encrypt\r\nRawEncrypt::len = 10\r\nEncrypt::Encrypt ok\r\n");
    control->put_Optimized(VARIANT_TRUE);
    auto empty = NewBlob(), header_only = NewBlob();
    ASSERT_EQ(control->Encrypt(empty.Get(), header_only.Get()), S_OK);
    DeleteFileW(path.c_str());
    ASSERT_EQ(control->Decrypt(header_only.Get(), out.Get()), S_OK);
    EXPECT_NE(test::ReadFileBytes(path).find("Decrypt::Optimization pass, hr=0\r\nDecrypt::Starting to decrypt\r\nRawDecrypt::len = 0\r\n"),
              std::string::npos);
    control->put_DebugFile(nullptr);
    DeleteFileW(path.c_str());
}

// Decrypt of input that cannot be measured fails instead of decrypting nothing; the optimized
// header is read whole from a blob that delivers a few bytes per Read.
TEST_F(ControlFixture, DecryptMeasuresItsInputAndReadsTheWholeHeader) {
    auto plain = NewBlob(Bytes(100, 0x5a)), encrypted = NewBlob(), back = NewBlob();
    Iv();
    ASSERT_EQ(control->Encrypt(plain.Get(), encrypted.Get()), S_OK);
    for (uint32_t max_read : {1u, 3u, 7u}) {
        test::FaultyBlob trickle(Content(encrypted.Get()));
        trickle.max_read = max_read;
        Iv();
        ASSERT_EQ(control->Decrypt(&trickle, back.Get()), S_OK) << max_read;
        EXPECT_EQ(Content(back.Get()), Bytes(100, 0x5a)) << max_read;
    }
    test::FaultyBlob unmeasurable(Content(encrypted.Get()));
    unmeasurable.fail_seek = true;
    test::ExpectErrorReport(control->Decrypt(&unmeasurable, back.Get()), ombrix::kErrReadBlobFailed, COmbrix::kProgId);
}

}  // namespace
