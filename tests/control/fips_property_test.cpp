// The control's FIPS property: binding through a put, what FIPS mode restricts, and how the
// process-wide binding meets the per-control string.
#include <gtest/gtest.h>

#include "binding/fips.h"
#include "control/Ombrix.h"
#include "control/errors.h"
#include "test_util.h"

namespace {

using Control = com::ComObject<ombrix::COmbrix>;

class FipsProperty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(Control::CreateInstance(&a_), S_OK);
        ASSERT_EQ(Control::CreateInstance(&b_), S_OK);
    }
    void TearDown() override {
        a_->Release();
        b_->Release();
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

    Control* a_ = nullptr;
    Control* b_ = nullptr;
};

TEST_F(FipsProperty, EmptyOrNullPutInTheLinkedStateLoadsNothing) {
    EXPECT_EQ(FipsOf(a_), L"<null>");
    EXPECT_EQ(a_->put_FIPS(nullptr), S_OK);
    EXPECT_EQ(PutFips(a_, L""), S_OK);
    EXPECT_EQ(FipsOf(a_), L"");
    EXPECT_FALSE(ombrix::FipsMode());
    EXPECT_EQ(a_->put_type(RC4), S_OK);
}

TEST_F(FipsProperty, SuccessfulPutEntersFipsModeAndRestrictsTypes) {
    ASSERT_EQ(PutFips(a_, L"fips_switch_ok.dll"), S_OK);
    EXPECT_TRUE(ombrix::FipsMode());
    EXPECT_EQ(FipsOf(a_), L"fips_switch_ok.dll");
    EXPECT_EQ(VersionOf(a_), L"2.2.5.115 (FIPS)");
    ExpectError(a_->put_type(RC4), ombrix::kErrFipsUnsupported);
    ExpectError(a_->put_type(MD5), ombrix::kErrFipsUnsupported);
    EXPECT_EQ(a_->put_type(AES256), S_OK);

    // The same name again: unloaded, reloaded, still in FIPS mode.
    EXPECT_EQ(PutFips(a_, L"fips_switch_ok.dll"), S_OK);
    EXPECT_TRUE(ombrix::FipsMode());
    ASSERT_NE(GetModuleHandleA("fips_switch_ok.dll"), nullptr);

    // Unloaded when emptied. (Checked before any digest runs inside the library: OpenSSL pins
    // the module it initialises in, so from then on it stays loaded.)
    EXPECT_EQ(PutFips(a_, L""), S_OK);
    EXPECT_FALSE(ombrix::FipsMode());
    EXPECT_EQ(GetModuleHandleA("fips_switch_ok.dll"), nullptr);
    EXPECT_EQ(VersionOf(a_), L"2.2.5.115");

    EXPECT_EQ(PutFips(a_, L"fips_switch_ok.dll"), S_OK);
    EXPECT_EQ(a_->put_type(SHA1), S_OK);  // a digest Type's sizes come from a digest object
    EXPECT_EQ(PutFips(a_, L""), S_OK);
}

TEST_F(FipsProperty, FailedPutKeepsThePreviousStringAndLeavesFipsMode) {
    ASSERT_EQ(PutFips(a_, L"fips_switch_ok.dll"), S_OK);
    ExpectError(PutFips(a_, L"no_such_fips_library.dll"), ombrix::kErrFipsLoad);
    EXPECT_FALSE(ombrix::FipsMode());
    EXPECT_EQ(FipsOf(a_), L"fips_switch_ok.dll");
    // The string names a library the process no longer has bound.
    EXPECT_EQ(VersionOf(a_), L"2.2.5.115");
    ExpectError(a_->Encrypt(nullptr, nullptr), ombrix::kErrFipsLoad);
    // Verify checks for its arguments first; any non-null pointer passes that check.
    IBlob* any = reinterpret_cast<IBlob*>(static_cast<IOmbrix*>(a_));
    ExpectError(a_->Verify(any, any, nullptr), ombrix::kErrFipsLoad);

    ExpectError(PutFips(a_, L"fips_switch_fails.dll"), ombrix::kErrFipsInit);
    auto info_code = ombrix::ErrorMessage(ombrix::kErrFipsInit);
    EXPECT_STREQ(info_code, "FIPS library failed to initialize.");
    EXPECT_EQ(FipsOf(a_), L"fips_switch_ok.dll");
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
    ASSERT_EQ(PutFips(a_, L"fips_switch_ok.dll"), S_OK);
    // B has no FIPS string: restricted like A, but its version carries no mark.
    ExpectError(b_->put_type(Blowfish), ombrix::kErrFipsUnsupported);
    EXPECT_EQ(VersionOf(b_), L"2.2.5.115");
    EXPECT_EQ(VersionOf(a_), L"2.2.5.115 (FIPS)");

    // B empties its string: the library goes for the whole process and A can no longer run.
    EXPECT_EQ(PutFips(b_, L""), S_OK);
    EXPECT_FALSE(ombrix::FipsMode());
    ExpectError(a_->Encrypt(nullptr, nullptr), ombrix::kErrFipsLoad);
    // Decrypt checks its input first; the FIPS refusal comes before the input is looked at.
    ExpectError(a_->Decrypt(reinterpret_cast<IBlob*>(static_cast<IOmbrix*>(a_)), nullptr), ombrix::kErrFipsLoad);
    ExpectError(a_->Sign(reinterpret_cast<IBlob*>(static_cast<IOmbrix*>(a_)), nullptr), ombrix::kErrFipsLoad);
    EXPECT_EQ(b_->put_type(Blowfish), S_OK);

    // Emptying A's string lifts the refusal.
    EXPECT_EQ(PutFips(a_, L""), S_OK);
    EXPECT_NE(a_->Encrypt(nullptr, nullptr), ombrix::ErrorHResult(ombrix::kErrFipsLoad));
}

}  // namespace
