// The error table, its lookup and the COM error report.
#include "base/error_codes.h"
#include "com/error_report.h"

#include <gtest/gtest.h>

#include <cstring>

#include "Ombrix_h.h"
#include "test_util.h"

namespace {

TEST(ErrorTable, MessagesComeFromTheTable) {
    EXPECT_STREQ(com::ErrorMessage(0), "No error.");
    EXPECT_STREQ(com::ErrorMessage(2), "The system cannot find the file specified.");
    EXPECT_STREQ(com::ErrorMessage(30001), "Supplied argument is not a Blob.");
    EXPECT_STREQ(com::ErrorMessage(30007), "Failed to decrypt data. Try setting optimized=FALSE.");
    EXPECT_STREQ(com::ErrorMessage(31012), "A certificate contains an unknown extension that is marked 'critical'.");
    EXPECT_STREQ(com::ErrorMessage(33018), "Not supported when FIPS enabled.");
}

TEST(ErrorTable, UnknownCodesFallBackToTheSystemThenToNoDescription) {
    const std::string access_denied = com::ErrorMessage(5);
    EXPECT_NE(access_denied, "No description");
    EXPECT_FALSE(access_denied.empty());
    EXPECT_STREQ(com::ErrorMessage(0x7FFFABCD), "No description");
    // The terminator row is never a match.
    const char* terminator = com::ErrorMessage(-1);
    ASSERT_NE(terminator, nullptr);
    EXPECT_STRNE(terminator, "");
    // Codes the table lacks (31007, 31024) are not invented.
    EXPECT_EQ(std::strstr(com::ErrorMessage(31007), "certificate"), nullptr);
}

TEST(ErrorReport, BuildsControlFacilityHResultAndErrorInfo) {
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(com::ReportError(30001, L"Kestrane.Ombrix.1", CLSID_Ombrix), static_cast<HRESULT>(0x800A7531));
    const auto info = test::TakeErrorInfo();
    ASSERT_TRUE(info.present);
    EXPECT_EQ(info.description, L"Supplied argument is not a Blob.");
    EXPECT_EQ(info.source, L"Kestrane.Ombrix.1");
    EXPECT_TRUE(IsEqualGUID(info.guid, CLSID_Ombrix));
    EXPECT_EQ(com::ErrorHResult(33016), static_cast<HRESULT>(0x800A80F8));
}

TEST(ErrorReport, EveryTableCodeCarriesItsMessage) {
    const int codes[] = {8,     2,     29,    13,    380,   30000, 30001, 30002, 30003, 30004, 30005, 30006, 30007,
                         30008, 30009, 30010, 30011, 30012, 30013, 30014, 30015, 30016, 30017, 30018, 30019, 30020,
                         31000, 31001, 31002, 31003, 31004, 31005, 31006, 31008, 31009, 31010, 31011, 31012, 31013,
                         31014, 31015, 31016, 31017, 31018, 31019, 31020, 31021, 31022, 31023, 31025, 31026, 31027,
                         33016, 33017, 33018};
    for (int code : codes) {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(com::ReportError(code, L"Kestrane.MemBlob.2", CLSID_Ombrix), com::ErrorHResult(code));
        const auto info = test::TakeErrorInfo();
        const std::string message = com::ErrorMessage(code);
        EXPECT_EQ(info.description, std::wstring(message.begin(), message.end())) << code;
        EXPECT_EQ(info.source, L"Kestrane.MemBlob.2");
        EXPECT_NE(message, "No description") << code;
    }
}

TEST(ErrorReport, FailingHResultOfALowerLayerIsOredIntoTheFacility) {
    SetErrorInfo(0, nullptr);
    const HRESULT hr = com::ReportError(static_cast<int32_t>(E_OUTOFMEMORY), L"Kestrane.Ombrix.1", CLSID_Ombrix);
    EXPECT_EQ(static_cast<uint32_t>(hr), 0x800A0000u | 0x8007000Eu);
    EXPECT_TRUE(test::TakeErrorInfo().present);
}

}  // namespace
