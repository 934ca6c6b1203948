// The crypto library binding: the linked table, and every path of binding an external
// FIPS-capable library, checked with the stand-in libraries built beside the tests.
#include "binding/binding.h"
#include "crypto/mpint.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "binding/fips_library.h"
#include "base/error_codes.h"
#include "base/buffer.h"

namespace {

using ombrix::BindCryptoLibrary;
using ombrix::Crypto;
using ombrix::FipsMode;

FipsLibraryCounters* CountersOf(const char* library) {
    HMODULE module = GetModuleHandleA(library);
    if (!module) return nullptr;
    auto counters = reinterpret_cast<FipsLibraryCountersFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "fips_library_counters")));
    return counters ? counters() : nullptr;
}

void* ExportOf(const char* library, const char* name) {
    HMODULE module = GetModuleHandleA(library);
    return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

// The table points into the OpenSSL linked into this program.
void ExpectLinkedTable() {
    EXPECT_FALSE(FipsMode());
    EXPECT_EQ(Crypto().FIPS_mode, nullptr);
    EXPECT_EQ(Crypto().FIPS_mode_set, nullptr);
    EXPECT_EQ(Crypto().BN_new, &::BN_new);
    EXPECT_EQ(Crypto().EVP_MD_CTX_create, &::EVP_MD_CTX_new);
    EXPECT_EQ(Crypto().HMAC_CTX_init, &::HMAC_CTX_new);
    EXPECT_EQ(Crypto().sk_num, &::OPENSSL_sk_num);
    EXPECT_EQ(Crypto().RC5_32_set_key, &::RC5_32_set_key);
    EXPECT_EQ(Crypto().i2d_ASN1_bytes, nullptr);
}

class Binding : public ::testing::Test {
protected:
    void TearDown() override { BindCryptoLibrary(nullptr); }
};

TEST_F(Binding, StartsBoundToTheLinkedLibrary) {
    ExpectLinkedTable();
    EXPECT_EQ(BindCryptoLibrary(nullptr), 0);
    EXPECT_EQ(BindCryptoLibrary(""), 0);
    ExpectLinkedTable();
}

TEST_F(Binding, LibrarySwitchedIntoFipsModeServesEveryEntry) {
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    EXPECT_TRUE(FipsMode());
    FipsLibraryCounters* counters = CountersOf("fips_switch_ok.dll");
    ASSERT_NE(counters, nullptr);
    EXPECT_EQ(counters->mode_set_calls, 1);
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().BN_new), ExportOf("fips_switch_ok.dll", "BN_new"));
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().HMAC_CTX_init), ExportOf("fips_switch_ok.dll", "HMAC_CTX_init"));
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().i2d_ASN1_bytes), ExportOf("fips_switch_ok.dll", "i2d_ASN1_bytes"));
    EXPECT_NE(Crypto().FIPS_mode, nullptr);
    // The RC5-32 entries are not looked up in a FIPS library.
    EXPECT_EQ(Crypto().RC5_32_encrypt, nullptr);

    // The module's big-number work now runs inside the loaded library.
    const long before = counters->crypto_calls;
    BIGNUM* value = Crypto().BN_new();
    ASSERT_NE(value, nullptr);
    ombrix::Buffer buffer;
    EXPECT_TRUE(PutBignum2(buffer, value));
    EXPECT_EQ(GetBignum2(buffer, value), 0u);
    Crypto().BN_free(value);
    EXPECT_EQ(counters->crypto_calls - before, 2);  // BN_num_bits, BN_bin2bn

    EXPECT_EQ(BindCryptoLibrary(nullptr), 0);
    EXPECT_EQ(GetModuleHandleA("fips_switch_ok.dll"), nullptr) << "the library must be unloaded";
    ExpectLinkedTable();
}

TEST_F(Binding, BindingTheSameLibraryAgainReloadsIt) {
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    EXPECT_TRUE(FipsMode());
    // A fresh load: the switch was called again in a new instance of the library.
    ASSERT_NE(CountersOf("fips_switch_ok.dll"), nullptr);
    EXPECT_EQ(CountersOf("fips_switch_ok.dll")->mode_set_calls, 1);
    BindCryptoLibrary(nullptr);
    EXPECT_EQ(GetModuleHandleA("fips_switch_ok.dll"), nullptr);
}

TEST_F(Binding, LibraryAlreadyInFipsModeIsNotSwitched) {
    ASSERT_EQ(BindCryptoLibrary("fips_already_on.dll"), 0);
    EXPECT_TRUE(FipsMode());
    ASSERT_NE(CountersOf("fips_already_on.dll"), nullptr);
    EXPECT_EQ(CountersOf("fips_already_on.dll")->mode_set_calls, 0);
}

TEST_F(Binding, HeldLibraryStaysLoadedUntilTheLastHoldGoes) {
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    ombrix::CryptoHold hold = ombrix::HoldCrypto();
    ASSERT_EQ(BindCryptoLibrary(nullptr), 0);
    ExpectLinkedTable();
    EXPECT_NE(GetModuleHandleA("fips_switch_ok.dll"), nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(hold->BN_new), ExportOf("fips_switch_ok.dll", "BN_new"));
    hold.reset();
    EXPECT_EQ(GetModuleHandleA("fips_switch_ok.dll"), nullptr);
    EXPECT_EQ(ombrix::HoldCrypto()->BN_new, &::BN_new);
}

struct FailingLibrary {
    const char* file;
    int code;
};

class BindingFailure : public Binding, public ::testing::WithParamInterface<FailingLibrary> {};

TEST_P(BindingFailure, FallsBackToTheLinkedLibraryAndUnloads) {
    // Start from FIPS mode to see that a failure also leaves it.
    ASSERT_EQ(BindCryptoLibrary("fips_switch_ok.dll"), 0);
    EXPECT_EQ(BindCryptoLibrary(GetParam().file), GetParam().code);
    ExpectLinkedTable();
    EXPECT_EQ(GetModuleHandleA(GetParam().file), nullptr);
    EXPECT_EQ(GetModuleHandleA("fips_switch_ok.dll"), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Paths, BindingFailure,
                         ::testing::Values(FailingLibrary{"fips_switch_fails.dll", ombrix::kErrFipsInit},
                                           FailingLibrary{"fips_no_md4_init.dll", ombrix::kErrFipsLoad},
                                           FailingLibrary{"fips_no_switch.dll", ombrix::kErrFipsLoad},
                                           FailingLibrary{"no_such_fips_library.dll", ombrix::kErrFipsLoad},
                                           FailingLibrary{"fips_openssl102.dll", ombrix::kErrFipsLoad},
                                           FailingLibrary{"fips_openssl111.dll", ombrix::kErrFipsLoad}));

// A library of another generation is refused before anything but its version is called: the
// 1.0.2-shaped one has FIPS_mode, FIPS_mode_set and an HMAC_CTX_init of the old shape, all counted.
TEST_F(Binding, OtherGenerationIsRefusedBeforeAnyOtherEntryIsCalled) {
    for (const char* file : {"fips_openssl102.dll", "fips_openssl111.dll"}) {
        SCOPED_TRACE(file);
        HMODULE kept = LoadLibraryA(file);  // keeps the counters readable after the refusal
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(BindCryptoLibrary(file), ombrix::kErrFipsLoad);
        ExpectLinkedTable();
        const FipsLibraryCounters* counters = CountersOf(file);
        ASSERT_NE(counters, nullptr);
        EXPECT_EQ(counters->mode_calls, 0);
        EXPECT_EQ(counters->mode_set_calls, 0);
        EXPECT_EQ(counters->crypto_calls, 0);
        FreeLibrary(kept);
    }
}

#ifdef FIPS_SET_DIR  // the FIPS library set is built for the 64-bit build only
// OpenSSL 3.0 with its FIPS provider, as the build puts it in bin/fips/: the provider switch,
// the entries OpenSSL 3 renamed bound to their successors, and the provider's refusals.
TEST_F(Binding, OpenSsl3LibrarySwitchesWithItsFipsProvider) {
    const char* library = FIPS_SET_DIR "/libcrypto-3-x64.dll";
    ASSERT_EQ(BindCryptoLibrary(library), 0);
    EXPECT_TRUE(FipsMode());
    EXPECT_EQ(Crypto().FIPS_mode, nullptr);
    HMODULE module = GetModuleHandleA(library);
    ASSERT_NE(module, nullptr);
    auto exported = [module](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().EVP_MD_CTX_create), exported("EVP_MD_CTX_new"));
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().HMAC_CTX_init), exported("HMAC_CTX_new"));
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().sk_num), exported("OPENSSL_sk_num"));
    EXPECT_EQ(Crypto().i2d_ASN1_bytes, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(Crypto().EVP_MAC_fetch), exported("EVP_MAC_fetch"));

    // SHA-1 is in the provider, MD5 is not.
    auto digest_init = [](const EVP_MD* method) {
        EVP_MD_CTX* context = Crypto().EVP_MD_CTX_create();
        const int result = context ? Crypto().EVP_DigestInit(context, method) : -1;
        if (context) Crypto().EVP_MD_CTX_destroy(context);
        return result;
    };
    EXPECT_EQ(digest_init(Crypto().EVP_sha1()), 1);
    EXPECT_EQ(digest_init(Crypto().EVP_md5()), 0);

    // The library stays in the process (OpenSSL pins itself) with FIPS on: binding it again
    // finds it already switched.
    ASSERT_EQ(BindCryptoLibrary(nullptr), 0);
    ExpectLinkedTable();
    ASSERT_EQ(BindCryptoLibrary(library), 0);
    EXPECT_TRUE(FipsMode());
    EXPECT_EQ(digest_init(Crypto().EVP_md5()), 0);
}
#endif

}  // namespace
