// Several MTA and STA threads, each with a control of its own, running Encrypt, Decrypt, Digest,
// HMAC, Sign and Verify over input blobs that they pass among themselves, while they put the
// process-wide Encoding and Language; in one variant a thread switches FIPS mode on and off with
// a stand-in library. Every result must equal the one a single thread computed before.
// OMBRIX_SOAK_SECONDS sets the length of each run (a few seconds by default).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "binding/fips.h"
#include "control/Ombrix.h"
#include "control/memory_blobs.h"
#include "crypto/private_key.h"
#include "test_util.h"

namespace {

using test::Bytes;
using test::ComPtr;

enum Operation { kEncrypt, kDecrypt, kDigest, kHmac, kSign, kVerify, kOperations };
const char* const kOperationNames[] = {"Encrypt", "Decrypt", "Digest", "HMAC", "Sign", "Verify"};

Bytes RsaKeyBlob() {
    std::ifstream file(std::string(ASYMMETRIC_DATA_DIR) + "/rsa.pem", std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ombrix::Buffer blob;
    EXPECT_TRUE(ombrix::ImportPemPrivateKey(pem.data(), pem.size(), blob)) << "rsa.pem in " << ASYMMETRIC_DATA_DIR;
    return Bytes(blob.Data(), blob.Data() + blob.Length());
}

void PutBytes(HRESULT (STDMETHODCALLTYPE IOmbrix::*put)(VARIANT), IOmbrix* control, const Bytes& bytes) {
    com::Variant value;
    V_VT(value.Get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.Get()) = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size())).Detach();
    EXPECT_EQ((control->*put)(*value.Get()), S_OK);
}

// An input blob and the lock that gives it to one thread at a time (a blob serializes nothing
// itself); threads of both apartments take turns with the same blobs.
struct SharedInput {
    ComPtr<IBlob> blob;
    Bytes content;
    std::mutex lock;
};

struct Expected {
    Bytes result[kOperations];
};

// One operation on `control` over input `in`; the output blob's bytes (Verify: one byte, its answer).
HRESULT RunOperation(IOmbrix* control, Operation operation, IBlob* in, const Bytes& rsa_key, const Bytes& ciphertext,
            const Bytes& signature, Bytes& result) {
    static const Bytes key(32, 0x4B), iv(16, 0x17), hmac_key(20, 0x0B);
    ComPtr<IBlob> out = test::NewBlob();
    HRESULT hr = E_FAIL;
    switch (operation) {
    case kEncrypt:
    case kDecrypt: {
        control->put_type(AES256);
        control->put_Mode(CBC);
        control->put_Optimized(VARIANT_FALSE);  // the optimized header carries random bytes
        control->put_Padding(PadPKCS7);
        PutBytes(&IOmbrix::put_SecretKey, control, key);
        PutBytes(&IOmbrix::put_InitVector, control, iv);  // the IV register moves with every pass
        if (operation == kEncrypt) {
            hr = control->Encrypt(in, out.Get());
        } else {
            hr = control->Decrypt(test::NewBlob(ciphertext).Get(), out.Get());
        }
        break;
    }
    case kDigest:
        control->put_type(SHA256);
        hr = control->Digest(in, out.Get());
        break;
    case kHmac:
        control->put_type(SHA1);
        PutBytes(&IOmbrix::put_SecretKey, control, hmac_key);
        hr = control->HMAC(in, out.Get());
        break;
    case kSign:
        control->put_type(RSASHA1);
        PutBytes(&IOmbrix::put_SecretKey, control, rsa_key);
        hr = control->Sign(in, out.Get());
        break;
    case kVerify: {
        control->put_type(RSASHA1);
        PutBytes(&IOmbrix::put_SecretKey, control, rsa_key);
        VARIANT_BOOL valid = VARIANT_FALSE;
        hr = control->Verify(in, test::NewBlob(signature).Get(), &valid);
        result = Bytes{static_cast<uint8_t>(valid == VARIANT_TRUE)};
        return hr;
    }
    default: break;
    }
    if (SUCCEEDED(hr)) result = test::Content(out.Get());
    return hr;
}

int SoakSeconds() {
    const char* value = getenv("OMBRIX_SOAK_SECONDS");
    return value && *value ? atoi(value) : 3;
}

struct Soak : ::testing::Test {
    void SetUp() override {
        rsa_key = RsaKeyBlob();
        ASSERT_FALSE(rsa_key.empty());
        ComPtr<IOmbrix> control = test::Create<ombrix::COmbrix, IOmbrix>();
        for (size_t size : {0, 1, 31, 1000, 150000}) {
            auto input = std::make_unique<SharedInput>();
            input->content.resize(size);
            for (size_t i = 0; i < size; ++i) input->content[i] = static_cast<uint8_t>(i * 31 + size);
            input->blob = test::NewBlob(input->content);
            // The single-thread results, in the order of the operations (Decrypt and Verify take
            // what Encrypt and Sign gave).
            Expected expected;
            for (int operation = 0; operation < kOperations; ++operation) {
                input->blob->Seek(0, 0, nullptr);
                ASSERT_EQ(RunOperation(control.Get(), static_cast<Operation>(operation), input->blob.Get(), rsa_key,
                              expected.result[kEncrypt], expected.result[kSign], expected.result[operation]),
                          S_OK)
                    << kOperationNames[operation] << " of " << size << " bytes";
            }
            EXPECT_EQ(expected.result[kDecrypt], input->content);
            EXPECT_EQ(expected.result[kVerify], Bytes{1});
            inputs.push_back(std::move(input));
            expectations.push_back(std::move(expected));
        }
    }
    void TearDown() override {
        inputs.clear();
        ombrix::BindCryptoLibrary(nullptr);
        EXPECT_EQ(com::ModuleLockCount(), 0);
    }

    // A worker: its own control, operations on inputs taken in turn, settings put between them.
    void Work(bool multithreaded, unsigned seed, std::chrono::steady_clock::time_point end, int kinds) {
        if (FAILED(CoInitializeEx(nullptr, multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED))) {
            ++errors;
            return;
        }
        {
            std::mt19937 rng(seed);
            ComPtr<IOmbrix> control = test::Create<ombrix::COmbrix, IOmbrix>();
            static const LONG kEncodings[] = {0, 1252, 65001, 850};
            static const LanguageEnum kLanguages[] = {lngEnglish, lngGerman, lngCroatian};
            while (std::chrono::steady_clock::now() < end) {
                const auto operation = static_cast<Operation>(rng() % kinds);
                const size_t which = rng() % inputs.size();
                SharedInput& input = *inputs[which];
                Bytes result;
                HRESULT hr;
                {
                    std::lock_guard<std::mutex> hold(input.lock);
                    input.blob->Seek(0, 0, nullptr);
                    hr = RunOperation(control.Get(), operation, input.blob.Get(), rsa_key, expectations[which].result[kEncrypt],
                             expectations[which].result[kSign], result);
                }
                ++operations[operation];
                if (hr != S_OK || result != expectations[which].result[operation]) {
                    ++failures[operation];
                    if (++errors <= 5)
                        ADD_FAILURE() << kOperationNames[operation] << " of input " << which << ": 0x" << std::hex << hr;
                }
                // Process-wide settings: any value a thread puts is one some thread put.
                if (rng() % 4 == 0) control->put_Encoding(kEncodings[rng() % 4]);
                if (rng() % 4 == 0) control->put_Language(kLanguages[rng() % 3]);
                LONG encoding = -1;
                LanguageEnum language = static_cast<LanguageEnum>(-1);
                control->get_Encoding(&encoding);
                control->get_Language(&language);
                if (std::find(std::begin(kEncodings), std::end(kEncodings), encoding) == std::end(kEncodings) ||
                    std::find(std::begin(kLanguages), std::end(kLanguages), language) == std::end(kLanguages))
                    ++errors;
            }
        }
        CoUninitialize();
    }

    // Three MTA and three STA workers for `seconds`, and optionally a thread that puts FIPS.
    void RunWorkers(int seconds, bool fips) {
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        std::vector<std::thread> threads;
        // With FIPS puts: the operations the stand-in library serves as well. It exports none of
        // the binding's optional entries, RSA_set0_key among them, so in FIPS mode an RSA key
        // cannot be set and Sign and Verify answer 30005.
        const int kinds = fips ? kSign : kOperations;
        for (unsigned i = 0; i < 6; ++i) threads.emplace_back([this, i, end, kinds] { Work(i % 2 == 0, 1000 + i, end, kinds); });
        long fips_puts = 0;
        if (fips) {
            threads.emplace_back([this, end, &fips_puts] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                {
                    ComPtr<IOmbrix> control = test::Create<ombrix::COmbrix, IOmbrix>();
                    for (long n = 0; std::chrono::steady_clock::now() < end; ++n) {
                        com::Bstr name(n % 2 ? L"" : L"fips_switch_ok.dll");
                        if (control->put_FIPS(name.Get()) != S_OK) ++errors;
                        if (ombrix::FipsMode() != (n % 2 == 0)) ++errors;
                        ++fips_puts;
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    }
                    com::Bstr none(L"");
                    control->put_FIPS(none.Get());
                }
                CoUninitialize();
            });
        }
        for (auto& thread : threads) thread.join();
        long total = 0;
        printf("soak%s: 6 threads (3 MTA, 3 STA) for %.1f s:", fips ? " with FIPS puts" : "",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        for (int operation = 0; operation < kOperations; ++operation) {
            printf(" %s %ld", kOperationNames[operation], operations[operation].load());
            if (failures[operation]) printf(" (%ld wrong)", failures[operation].load());
            total += operations[operation];
        }
        printf(", %ld operations%s%ld FIPS puts, %ld errors\n", total, fips ? ", " : " ", fips_puts, errors.load());
        EXPECT_EQ(errors.load(), 0);
        EXPECT_GT(total, 0);
    }

    Bytes rsa_key;
    std::vector<std::unique_ptr<SharedInput>> inputs;
    std::vector<Expected> expectations;
    std::atomic<long> operations[kOperations]{};
    std::atomic<long> failures[kOperations]{};
    std::atomic<long> errors{0};
};

TEST_F(Soak, ThreadsAgreeWithOneThread) { RunWorkers(SoakSeconds(), false); }

// FIPS mode on and off while the operations run: each put waits for the running ones, and
// Encrypt, Decrypt, Digest and HMAC give the same bytes in either library.
TEST_F(Soak, ThreadsAgreeWhileFipsModeChanges) { RunWorkers(SoakSeconds(), true); }

}  // namespace
