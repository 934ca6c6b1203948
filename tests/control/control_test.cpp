// The control's properties: defaults, validation, computed sizes, process-wide values, the
// needs-saving flag, the IV register and the debug log.
#include "control/Ombrix.h"

#include <gtest/gtest.h>

#include "binding/fips.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "test_util.h"

using ombrix::COmbrix;
using Control = com::ComObject<COmbrix>;

namespace {

struct ControlHolder {
    ControlHolder() { EXPECT_EQ(Control::CreateInstance(&control), S_OK); }
    ~ControlHolder() { if (control) control->Release(); }
    Control* operator->() const { return control; }
    Control* control = nullptr;
};

std::wstring VersionOf(IOmbrix* control) {
    com::Bstr version;
    EXPECT_EQ(control->get_Version(version.Put()), S_OK);
    return version.Get() ? version.Get() : L"";
}

TEST(Control, NewControlHasTheDocumentedDefaults) {
    ControlHolder c;
    CryptoTypes type{};
    short block = -1, key = -1;
    VARIANT_BOOL optimized = 0, fire = 0;
    CryptoModes mode = CBC;
    CryptoPadding padding = PadPKCS7;
    CryptoCompression compression = GZipCompression;
    LanguageEnum language = lngGerman;
    LONG encoding = 0;
    EXPECT_EQ(c->get_type(&type), S_OK);
    EXPECT_EQ(type, AES);
    EXPECT_EQ(c->get_BlockSize(&block), S_OK);
    EXPECT_EQ(c->get_KeySize(&key), S_OK);
    EXPECT_EQ(block, 16);
    EXPECT_EQ(key, 16);
    c->get_Optimized(&optimized);
    c->get_FireEvents(&fire);
    EXPECT_EQ(optimized, VARIANT_TRUE);
    EXPECT_EQ(fire, VARIANT_TRUE);
    c->get_Mode(&mode);
    c->get_Padding(&padding);
    c->get_Compression(&compression);
    EXPECT_EQ(mode, ECB);
    EXPECT_EQ(padding, PadNull);
    EXPECT_EQ(compression, NoCompression);
    c->get_Language(&language);
    c->get_Encoding(&encoding);
    EXPECT_EQ(language, lngEnglish);
    EXPECT_EQ(encoding, 65001);
    EXPECT_EQ(VersionOf(c.control), L"2.2.5.115");

    com::Variant key_value, iv_value;
    EXPECT_EQ(c->get_SecretKey(key_value.Put()), S_OK);
    EXPECT_EQ(c->get_InitVector(iv_value.Put()), S_OK);
    EXPECT_EQ(V_VT(key_value.Get()), VT_EMPTY);
    EXPECT_EQ(V_VT(iv_value.Get()), VT_EMPTY);

    com::Bstr debug_file, fips;
    EXPECT_EQ(c->get_DebugFile(debug_file.Put()), S_OK);
    EXPECT_EQ(c->get_FIPS(fips.Put()), S_OK);
    EXPECT_EQ(debug_file.Get(), nullptr);
    EXPECT_EQ(fips.Get(), nullptr);
    EXPECT_EQ(c->CipherIvRegister().Length(), 16u);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(c->CipherIvRegister().Data()[i], 0);
    EXPECT_TRUE(c->ControlModified());
}

TEST(Control, TypePutAcceptsOnlyKnownTypes) {
    ControlHolder c;
    for (int bad : {-1, 12, 99, 107, 999, 1002, 1100, 1103, 65534, 65536}) {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(c->put_type(static_cast<CryptoTypes>(bad)), com::ErrorHResult(30004)) << bad;
        auto info = test::TakeErrorInfo();
        EXPECT_EQ(info.description, L"Selected Type not supported.");
        EXPECT_EQ(info.source, L"Kestrane.Ombrix.1");
        EXPECT_TRUE(IsEqualGUID(info.guid, CLSID_Ombrix));
        CryptoTypes type{};
        c->get_type(&type);
        EXPECT_EQ(type, AES);
    }
    for (int good : {0, 5, 11, 100, 106, 1000, 1001, 1101, 1102, 65535}) {
        EXPECT_EQ(c->put_type(static_cast<CryptoTypes>(good)), S_OK) << good;
        CryptoTypes type{};
        c->get_type(&type);
        EXPECT_EQ(type, good);
    }
}

TEST(Control, BlockAndKeySizesFollowTheType) {
    struct Row { int type; short key; short block; };
    const Row rows[] = {
        {DES, 8, 8}, {TripleDES, 24, 8}, {AES, 16, 16}, {AES192, 24, 16}, {AES256, 32, 16}, {Blowfish, 16, 8},
        {Cast, 16, 8}, {RC2, 16, 8}, {RC4, 16, 1}, {RC5, 16, 8}, {UNIXcrypt, 8, 0}, {UNIXcrypt3, 8, 0},
        {MD5, 0, 16}, {SHA1, 0, 20}, {SHA256, 0, 32}, {SHA512, 0, 64}, {SHA384, 0, 48}, {CRC16, 0, 2},
        {CRC32, 0, 4}, {RSA, 0, 0}, {DSA, 0, 0}, {RSASHA1, 0, 0}, {DSASHA1, 0, 0}, {None, 0, 0},
    };
    ControlHolder c;
    for (const Row& row : rows) {
        ASSERT_EQ(c->put_type(static_cast<CryptoTypes>(row.type)), S_OK);
        short key = -1, block = -1;
        c->get_KeySize(&key);
        c->get_BlockSize(&block);
        EXPECT_EQ(key, row.key) << row.type;
        EXPECT_EQ(block, row.block) << row.type;
        EXPECT_EQ(c->CipherIvRegister().Length(), static_cast<uint32_t>(row.block)) << row.type;
    }
}

TEST(Control, IvRegisterKeepsItsBytesAcrossTypeChanges) {
    ControlHolder c;
    for (uint8_t i = 0; i < 16; ++i) c->CipherIvRegister().Data()[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(c->put_type(DES), S_OK);
    EXPECT_EQ(c->CipherIvRegister().Length(), 8u);
    ASSERT_EQ(c->put_type(AES), S_OK);
    ASSERT_EQ(c->CipherIvRegister().Length(), 16u);
    for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(c->CipherIvRegister().Data()[i], 0xA0 + i);
    ASSERT_EQ(c->put_type(None), S_OK);
    EXPECT_EQ(c->CipherIvRegister().Length(), 0u);
    ASSERT_EQ(c->put_type(AES256), S_OK);
    for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(c->CipherIvRegister().Data()[i], 0xA0 + i);
}

TEST(Control, BooleanPutsStoreAnyNonZeroAsTrue) {
    ControlHolder c;
    VARIANT_BOOL value = 0;
    c->put_Optimized(5);
    c->get_Optimized(&value);
    EXPECT_EQ(value, VARIANT_TRUE);
    c->put_Optimized(0);
    c->get_Optimized(&value);
    EXPECT_EQ(value, VARIANT_FALSE);
    c->put_FireEvents(static_cast<VARIANT_BOOL>(0x100));
    c->get_FireEvents(&value);
    EXPECT_EQ(value, VARIANT_TRUE);
}

TEST(Control, EnumeratedPutsStoreValuesUnchecked) {
    ControlHolder c;
    CryptoModes mode{};
    CryptoPadding padding{};
    CryptoCompression compression{};
    c->put_Mode(static_cast<CryptoModes>(77));
    c->put_Padding(static_cast<CryptoPadding>(-3));
    c->put_Compression(static_cast<CryptoCompression>(9));
    c->get_Mode(&mode);
    c->get_Padding(&padding);
    c->get_Compression(&compression);
    EXPECT_EQ(mode, 77);
    EXPECT_EQ(padding, -3);
    EXPECT_EQ(compression, 9);
}

TEST(Control, VersionPutChangesNothing) {
    ControlHolder c;
    com::Bstr text(L"9.9");
    EXPECT_EQ(c->put_Version(text.Get()), S_OK);
    EXPECT_EQ(c->put_Version(nullptr), S_OK);
    EXPECT_EQ(VersionOf(c.control), L"2.2.5.115");
}

TEST(Control, EncodingAndLanguageAreSharedByEveryControl) {
    ControlHolder first, second;
    ASSERT_EQ(first->put_Encoding(1252), S_OK);
    ASSERT_EQ(first->put_Language(lngCroatian), S_OK);
    LONG encoding = 0;
    LanguageEnum language{};
    second->get_Encoding(&encoding);
    second->get_Language(&language);
    EXPECT_EQ(encoding, 1252);
    EXPECT_EQ(language, lngCroatian);
    first->put_Encoding(65001);
    first->put_Language(lngEnglish);
}

TEST(Control, NeedsSavingFollowsThePersistedProperties) {
    ControlHolder c;
    const auto after = [&](auto put) {
        c->SetControlModified(false);
        put();
        return c->ControlModified();
    };
    EXPECT_FALSE(after([&] { c->put_Compression(ZlibCompression); }));
    EXPECT_FALSE(after([&] { c->put_Encoding(65001); }));
    EXPECT_FALSE(after([&] { c->put_Language(lngEnglish); }));
    EXPECT_FALSE(after([&] { c->put_Version(nullptr); }));
    EXPECT_FALSE(after([&] { c->put_DebugFile(nullptr); }));
    EXPECT_FALSE(after([&] { c->put_type(static_cast<CryptoTypes>(12)); }));
    EXPECT_TRUE(after([&] { c->put_Mode(CBC); }));
    EXPECT_TRUE(after([&] { c->put_Padding(PadSpace); }));
    EXPECT_TRUE(after([&] { c->put_Optimized(0); }));
    EXPECT_TRUE(after([&] { c->put_FireEvents(0); }));
    EXPECT_TRUE(after([&] { c->put_type(DES); }));
}

TEST(Control, AbortOnlySetsTheRequest) {
    ControlHolder c;
    EXPECT_FALSE(c->AbortRequested());
    EXPECT_EQ(c->Abort(), S_OK);
    EXPECT_TRUE(c->AbortRequested());
}

TEST(Control, NullOutPointersAreRefused) {
    ControlHolder c;
    EXPECT_EQ(c->get_type(nullptr), E_POINTER);
    EXPECT_EQ(c->get_Version(nullptr), E_POINTER);
    EXPECT_EQ(c->get_SecretKey(nullptr), E_POINTER);
    EXPECT_EQ(c->get_DebugFile(nullptr), E_POINTER);
    EXPECT_EQ(c->get_BlockSize(nullptr), E_POINTER);
}

TEST(DebugLog, ControlWritesItsLifecycleLines) {
    const std::wstring path = test::TempPath(L"ombrix_debug_lifecycle.log");
    {
        ControlHolder c;
        com::Bstr name(path.c_str());
        ASSERT_EQ(c->put_DebugFile(name.Get()), S_OK);
        com::Bstr read_back;
        c->get_DebugFile(read_back.Put());
        EXPECT_EQ(std::wstring(read_back.Get()), path);
    }
    EXPECT_EQ(test::ReadFileBytes(path), "New instance of Ombrix started\r\nOmbrix destroyed\r\n");
    DeleteFileW(path.c_str());
}

TEST(DebugLog, AppendsToAnExistingFileAndStopsWhenCleared) {
    const std::wstring path = test::TempPath(L"ombrix_debug_append.log");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "earlier\n", 8, &written, nullptr);
    CloseHandle(file);
    {
        ControlHolder c;
        com::Bstr name(path.c_str());
        c->put_DebugFile(name.Get());
        com::Bstr empty(L"");
        c->put_DebugFile(empty.Get());
    }
    EXPECT_EQ(test::ReadFileBytes(path), "earlier\nNew instance of Ombrix started\r\n");
    DeleteFileW(path.c_str());
}

TEST(DebugLog, UnopenablePathIsIgnored) {
    ControlHolder c;
    com::Bstr name(L"C:\\no\\such\\directory\\ombrix.log");
    EXPECT_EQ(c->put_DebugFile(name.Get()), S_OK);
    EXPECT_EQ(c->put_type(DES), S_OK);
    EXPECT_EQ(GetFileAttributesW(L"C:\\no\\such\\directory"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
