// The control's FIPS property: binding through a put, what FIPS mode restricts, and how the
// process-wide binding meets the per-control string.
#include <gtest/gtest.h>

#include "binding/fips.h"
#include "binding/fips_library.h"
#include "control/Ombrix.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "control/fake_sink.h"
#include "control/memory_blobs.h"
#include "test_util.h"

namespace {

class FipsProperty : public ::testing::Test {
protected:
    void SetUp() override {
        a_ = test::Create<ombrix::COmbrix, IOmbrix>();
        b_ = test::Create<ombrix::COmbrix, IOmbrix>();
        ASSERT_TRUE(a_.Get());
        ASSERT_TRUE(b_.Get());
    }
    void TearDown() override {
        a_.Reset();
        b_.Reset();
        ombrix::BindCryptoLibrary(nullptr);
    }

    static HRESULT PutFips(IOmbrix* control, const wchar_t* value) {
        com::Bstr name(value);
        return control->put_FIPS(name.Get());
    }
    static std::wstring FipsOf(IOmbrix* control) {
        com::Bstr value;
        EXPECT_EQ(control->get_FIPS(value.Put()), S_OK);
        return value.Get() ? value.Get() : L"<null>";
    }
    static std::wstring VersionOf(IOmbrix* control) {
        com::Bstr value;
        EXPECT_EQ(control->get_Version(value.Put()), S_OK);
        return value.Get() ? value.Get() : L"";
    }
    static void ExpectError(HRESULT hr, int32_t code) { test::ExpectErrorReport(hr, code, L"Kestrane.Ombrix.1"); }

    test::ComPtr<IOmbrix> a_, b_;
};

TEST_F(FipsProperty, EmptyOrNullPutInTheLinkedStateLoadsNothing) {
    EXPECT_EQ(FipsOf(a_.Get()), L"<null>");
    EXPECT_EQ(a_->put_FIPS(nullptr), S_OK);
    EXPECT_EQ(PutFips(a_.Get(), L""), S_OK);
    EXPECT_EQ(FipsOf(a_.Get()), L"");
    EXPECT_FALSE(ombrix::FipsMode());
    EXPECT_EQ(a_->put_type(RC4), S_OK);
}

TEST_F(FipsProperty, SuccessfulPutEntersFipsModeAndRestrictsTypes) {
    ASSERT_EQ(PutFips(a_.Get(), L"fips_switch_ok.dll"), S_OK);
    EXPECT_TRUE(ombrix::FipsMode());
    EXPECT_EQ(FipsOf(a_.Get()), L"fips_switch_ok.dll");
    EXPECT_EQ(VersionOf(a_.Get()), L"2.2.5.115 (FIPS)");
    ExpectError(a_->put_type(RC4), ombrix::kErrFipsUnsupported);
    ExpectError(a_->put_type(MD5), ombrix::kErrFipsUnsupported);
    EXPECT_EQ(a_->put_type(AES256), S_OK);

    // The same name again: unloaded, reloaded, still in FIPS mode.
    EXPECT_EQ(PutFips(a_.Get(), L"fips_switch_ok.dll"), S_OK);
    EXPECT_TRUE(ombrix::FipsMode());
    ASSERT_NE(GetModuleHandleA("fips_switch_ok.dll"), nullptr);

    // Unloaded when emptied. (Checked before any digest runs inside the library: OpenSSL pins
    // the module it initialises in, so from then on it stays loaded.)
    EXPECT_EQ(PutFips(a_.Get(), L""), S_OK);
    EXPECT_FALSE(ombrix::FipsMode());
    EXPECT_EQ(GetModuleHandleA("fips_switch_ok.dll"), nullptr);
    EXPECT_EQ(VersionOf(a_.Get()), L"2.2.5.115");

    EXPECT_EQ(PutFips(a_.Get(), L"fips_switch_ok.dll"), S_OK);
    EXPECT_EQ(a_->put_type(SHA1), S_OK);  // a digest Type's sizes come from a digest object
    EXPECT_EQ(PutFips(a_.Get(), L""), S_OK);
}

TEST_F(FipsProperty, FailedPutKeepsThePreviousStringAndLeavesFipsMode) {
    ASSERT_EQ(PutFips(a_.Get(), L"fips_switch_ok.dll"), S_OK);
    ExpectError(PutFips(a_.Get(), L"no_such_fips_library.dll"), ombrix::kErrFipsLoad);
    EXPECT_FALSE(ombrix::FipsMode());
    EXPECT_EQ(FipsOf(a_.Get()), L"fips_switch_ok.dll");
    // The string names a library the process no longer has bound.
    EXPECT_EQ(VersionOf(a_.Get()), L"2.2.5.115");
    ExpectError(a_->Encrypt(nullptr, nullptr), ombrix::kErrFipsLoad);
    // Verify checks for its arguments first; any non-null pointer passes that check.
    IBlob* any = reinterpret_cast<IBlob*>(a_.Get());
    ExpectError(a_->Verify(any, any, nullptr), ombrix::kErrFipsLoad);

    ExpectError(PutFips(a_.Get(), L"fips_switch_fails.dll"), ombrix::kErrFipsInit);
    auto info_code = com::ErrorMessage(ombrix::kErrFipsInit);
    EXPECT_STREQ(info_code, "FIPS library failed to initialize.");
    EXPECT_EQ(FipsOf(a_.Get()), L"fips_switch_ok.dll");
}

TEST_F(FipsProperty, NameIsTakenUpToItsFirstNullCharacter) {
    com::Bstr name(L"fips_switch_ok.dll\0junk", 23);
    ASSERT_EQ(a_->put_FIPS(name.Get()), S_OK);
    EXPECT_TRUE(ombrix::FipsMode());
    com::Bstr stored;
    ASSERT_EQ(a_->get_FIPS(stored.Put()), S_OK);
    EXPECT_EQ(SysStringLen(stored.Get()), 23u);  // the stored copy is the whole value
}

TEST_F(FipsProperty, BindingIsPerProcessWhileTheStringIsPerControl) {
    ASSERT_EQ(PutFips(a_.Get(), L"fips_switch_ok.dll"), S_OK);
    // B has no FIPS string: restricted like A, but its version carries no mark.
    ExpectError(b_->put_type(Blowfish), ombrix::kErrFipsUnsupported);
    EXPECT_EQ(VersionOf(b_.Get()), L"2.2.5.115");
    EXPECT_EQ(VersionOf(a_.Get()), L"2.2.5.115 (FIPS)");

    // B empties its string: the library goes for the whole process and A can no longer run.
    EXPECT_EQ(PutFips(b_.Get(), L""), S_OK);
    EXPECT_FALSE(ombrix::FipsMode());
    ExpectError(a_->Encrypt(nullptr, nullptr), ombrix::kErrFipsLoad);
    // Decrypt checks its input first; the FIPS refusal comes before the input is looked at.
    ExpectError(a_->Decrypt(reinterpret_cast<IBlob*>(a_.Get()), nullptr), ombrix::kErrFipsLoad);
    ExpectError(a_->Sign(reinterpret_cast<IBlob*>(a_.Get()), nullptr), ombrix::kErrFipsLoad);
    EXPECT_EQ(b_->put_type(Blowfish), S_OK);

    // Emptying A's string lifts the refusal.
    EXPECT_EQ(PutFips(a_.Get(), L""), S_OK);
    EXPECT_NE(a_->Encrypt(nullptr, nullptr), com::ErrorHResult(ombrix::kErrFipsLoad));
}

// A Progress handler runs inside the operation, which reads the binding: a FIPS put there is
// refused and changes nothing, while another operation on the same thread runs.
TEST_F(FipsProperty, PutFromAHandlerIsRefusedWhileNestedOperationsRun) {
    std::vector<test::Call> calls;
    test::FakeSink sink(1, calls);
    int handled = 0;
    sink.on_invoke = [&] {
        if (calls.back().id != 1 || handled++) return;
        ExpectError(PutFips(a_.Get(), L"fips_switch_ok.dll"), ombrix::kErrFipsLoad);
        EXPECT_FALSE(ombrix::FipsMode());
        auto out = test::NewBlob();
        EXPECT_EQ(b_->Digest(test::NewBlob({'a', 'b', 'c'}).Get(), out.Get()), S_OK);  // SHA-1 of abc
        EXPECT_EQ(test::Content(out.Get()), (test::Bytes{0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                                         0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d}));
    };
    DWORD cookie = 0;
    auto point = test::EventsPoint(a_.Get());
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    ASSERT_EQ(a_->put_type(SHA256), S_OK);
    ASSERT_EQ(b_->put_type(SHA1), S_OK);
    auto out = test::NewBlob();
    EXPECT_EQ(a_->Digest(test::NewBlob(test::Bytes(5000, 7)).Get(), out.Get()), S_OK);
    EXPECT_EQ(handled, 5);
    EXPECT_EQ(FipsOf(a_.Get()), L"<null>");
    point->Unadvise(cookie);
    EXPECT_EQ(PutFips(a_.Get(), L"fips_switch_ok.dll"), S_OK);  // outside any operation it binds
    EXPECT_TRUE(ombrix::FipsMode());
}

// A put on one control rebinds the process while another holds running computations: they go on
// in the library they started in, which stays loaded for them. MD5 chosen before FIPS mode
// began gives its real digest. (Last in this file: digests pin the library they run in.)
TEST_F(FipsProperty, RunningComputationsOfOtherControlsKeepTheirLibrary) {
    a_->put_FireEvents(VARIANT_FALSE);
    ASSERT_EQ(a_->put_type(MD5), S_OK);
    ASSERT_EQ(PutFips(b_.Get(), L"fips_switch_ok.dll"), S_OK);
    auto out = test::NewBlob();
    ASSERT_EQ(a_->Digest(test::NewBlob({'a', 'b', 'c'}).Get(), out.Get()), S_OK);
    EXPECT_EQ(test::Content(out.Get()), (test::Bytes{0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f,
                                                     0x7d, 0x28, 0xe1, 0x7f, 0x72}));

    auto* counters = reinterpret_cast<FipsLibraryCountersFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("fips_switch_ok.dll"), "fips_library_counters")))();
    ASSERT_EQ(a_->put_type(SHA1), S_OK);
    ASSERT_EQ(a_->Digest(test::NewBlob({'a', 'b'}).Get(), nullptr), S_OK);
    ASSERT_EQ(a_->HMAC(test::NewBlob({'a', 'b'}).Get(), nullptr), S_OK);
    const long before = counters->crypto_calls;
    ASSERT_EQ(PutFips(b_.Get(), L""), S_OK);
    ASSERT_EQ(a_->Digest(test::NewBlob({'c'}).Get(), out.Get()), S_OK);
    EXPECT_EQ(test::Content(out.Get()), (test::Bytes{0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                                     0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d}));
    ASSERT_EQ(a_->HMAC(test::NewBlob({'c'}).Get(), out.Get()), S_OK);  // HMAC-SHA1 of abc, empty key
    EXPECT_EQ(test::Content(out.Get()), (test::Bytes{0x9b, 0x4a, 0x91, 0x8f, 0x39, 0x8d, 0x74, 0xd3, 0xe3, 0x67,
                                                     0x97, 0x0a, 0xba, 0x3c, 0xbe, 0x54, 0xe4, 0xd2, 0xb5, 0xd9}));
    EXPECT_EQ(counters->crypto_calls - before, 2) << "both went on in the library they started in";
}

}  // namespace
