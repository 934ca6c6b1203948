// Digest and HMAC through the control: results, computations spread over calls, progress and the
// abort request, and the Types that do not apply. (Expected values from Python's hashlib, hmac
// and zlib.)
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "blobs/FileBlob.h"
#include "blobs/MemBlob.h"
#include "control/Ombrix.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "control/fake_sink.h"
#include "control/memory_blobs.h"
#include "test_util.h"

using ombrix::CMemBlob;
using ombrix::COmbrix;
using test::ComPtr;

namespace {

ComPtr<IBlob> TextBlob(const std::string& text) { return test::NewBlob(test::Bytes(text.begin(), text.end())); }

std::string Hex(IBlob* blob) {
    ComPtr<IMemBlob> memory;
    blob->QueryInterface(IID_IMemBlob, &memory);
    blob->Seek(0, 0, nullptr);
    com::Bstr hex;
    EXPECT_EQ(memory->ToHex(hex.Put()), S_OK);
    return hex.Get() ? std::string(hex.Get(), hex.Get() + SysStringLen(hex.Get())) : std::string();
}

struct HashFixture : ::testing::Test {
    ComPtr<IOmbrix> control = test::Create<COmbrix, IOmbrix>();
};

TEST_F(HashFixture, DigestOverOneOrSeveralCalls) {
    control->put_type(SHA1);
    auto out = TextBlob("");
    ASSERT_EQ(control->Digest(TextBlob("abc").Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), "a9993e364706816aba3e25717850c26c9cd0d89d");

    // ab without an output blob, then c with one: the digest of abc.
    ASSERT_EQ(control->Digest(TextBlob("ab").Get(), nullptr), S_OK);
    ASSERT_EQ(control->Digest(TextBlob("c").Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), "a9993e364706816aba3e25717850c26c9cd0d89d");

    // A put of type discards the running computation, a refused put as well.
    for (int type : {static_cast<int>(SHA1), 12}) {
        ASSERT_EQ(control->Digest(TextBlob("ab").Get(), nullptr), S_OK);
        control->put_type(static_cast<CryptoTypes>(type));
        ASSERT_EQ(control->Digest(TextBlob("c").Get(), out.Get()), S_OK);
        EXPECT_EQ(Hex(out.Get()), "84a516841ba77a5b4648de2cd0dfcb30ea46dbb4") << type;
    }

    control->put_type(CRC32);
    ASSERT_EQ(control->Digest(TextBlob("abc").Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), "352441c2");

    control->put_type(AES);
    test::ExpectErrorReport(control->Digest(TextBlob("abc").Get(), out.Get()), ombrix::kErrTypeNotForMethod, COmbrix::kProgId);
    EXPECT_EQ(control->Digest(nullptr, out.Get()), E_INVALIDARG);
}

TEST_F(HashFixture, ProgressEveryKilobyteThenDone) {
    std::vector<test::Call> calls;
    test::FakeSink sink(1, calls);
    DWORD cookie = 0;
    auto point = test::EventsPoint(control.Get());
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    control->put_type(SHA256);
    auto out = TextBlob("");
    ASSERT_EQ(control->Digest(TextBlob(std::string(3000, 'x')).Get(), out.Get()), S_OK);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].arguments, (std::vector<LONG>{1024, 3000}));
    EXPECT_EQ(calls[1].arguments, (std::vector<LONG>{2048, 3000}));
    EXPECT_EQ(calls[2].arguments, (std::vector<LONG>{3000, 3000}));
    EXPECT_EQ(calls[3].id, 0);
    point->Unadvise(cookie);
}

TEST_F(HashFixture, PendingAbortStopsDigestButKeepsTheComputation) {
    control->put_type(SHA1);
    control->put_FireEvents(VARIANT_FALSE);
    control->Abort();
    // The request is seen after the first piece: ab is fed, then the call stops.
    test::ExpectErrorReport(control->Digest(TextBlob("ab").Get(), nullptr), ombrix::kErrAborted, COmbrix::kProgId);
    // Digest does not clear the request; Encrypt does, even when it then fails (no key).
    auto out = TextBlob("");
    test::ExpectErrorReport(control->Encrypt(TextBlob("x").Get(), out.Get()), ombrix::kErrNoSecretKey, COmbrix::kProgId);
    ASSERT_EQ(control->Digest(TextBlob("c").Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST_F(HashFixture, HmacTypesAndKeys) {
    auto out = TextBlob("");
    control->put_type(CRC16);
    test::ExpectErrorReport(control->HMAC(TextBlob("abc").Get(), out.Get()), ombrix::kErrTypeNotForMethod, COmbrix::kProgId);

    // An empty key is accepted.
    control->put_type(SHA256);
    ASSERT_EQ(control->HMAC(TextBlob("abc").Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), "fd7adb152c05ef80dccf50a1fa4c05d5a3ec6da95575fc312ae7c5d091836351");

    // The key of a running computation is the one it started with.
    com::Variant key;
    V_VT(key.Get()) = VT_BSTR;
    V_BSTR(key.Get()) = SysAllocString(L"key");
    control->put_SecretKey(*key.Get());
    control->put_type(MD5);
    ASSERT_EQ(control->HMAC(TextBlob("ab").Get(), nullptr), S_OK);
    com::Variant other;
    V_VT(other.Get()) = VT_BSTR;
    V_BSTR(other.Get()) = SysAllocString(L"other");
    control->put_SecretKey(*other.Get());
    ASSERT_EQ(control->HMAC(TextBlob("c").Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), "d2fe98063f876b03193afb49b4979591");
}

// Megabytes of data through the control, against openssl dgst (plain and -hmac) and zlib.crc32.
TEST_F(HashFixture, DigestsOfMegabytesMatchIndependentTools) {
    struct Row {
        CryptoTypes type;
        bool hmac;
        const char* hex;
    };
    static const Row kRows[] = {
#include "digest_vectors.inc"
    };
    std::ifstream file(std::string(DIGEST_DATA_DIR) + "/digest_data.bin", std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(data.size(), 3000000u);
    com::Variant key;
    V_VT(key.Get()) = VT_BSTR;
    V_BSTR(key.Get()) = SysAllocString(L"ombrix");
    control->put_SecretKey(*key.Get());
    control->put_FireEvents(VARIANT_FALSE);
    for (const Row& row : kRows) {
        control->put_type(row.type);
        auto out = TextBlob("");
        auto input = TextBlob(data);
        ASSERT_EQ(row.hmac ? control->HMAC(input.Get(), out.Get()) : control->Digest(input.Get(), out.Get()), S_OK);
        EXPECT_EQ(Hex(out.Get()), row.hex) << row.type << (row.hmac ? " HMAC" : "");
    }
}

// Data that cannot be measured or read fails with 30009 instead of being hashed as if empty; an
// output blob's refusal is the call's result. Either way no computation stays behind.
TEST_F(HashFixture, UnreadableDataAndRefusingOutputFail) {
    using Method = HRESULT (STDMETHODCALLTYPE IOmbrix::*)(IBlob*, IBlob*);
    ComPtr<IBlob> unloaded = test::Create<ombrix::CFileBlob, IBlob>();
    ASSERT_TRUE(unloaded);
    com::Bstr missing(L"C:\\no such folder\\no such file.bin");
    ComPtr<IFileBlob> file;
    unloaded.As(&file);
    ASSERT_NE(file->put_Filename(missing.Get()), S_OK);  // the blob is left without a file
    control->put_FireEvents(VARIANT_FALSE);
    for (Method method : {&IOmbrix::Digest, &IOmbrix::HMAC}) {
        control->put_type(SHA1);
        test::FaultyBlob seek_fails(test::Bytes(10, 1)), read_fails(test::Bytes(10, 1));
        seek_fails.fail_seek = true;
        read_fails.fail_read = true;
        for (IBlob* data : {static_cast<IBlob*>(&seek_fails), static_cast<IBlob*>(&read_fails), unloaded.Get()}) {
            SCOPED_TRACE(data == unloaded.Get() ? "file blob without a file" : data == &seek_fails ? "seek fails" : "read fails");
            auto out = TextBlob("");
            test::ExpectErrorReport((control.Get()->*method)(data, out.Get()), ombrix::kErrReadBlobFailed, COmbrix::kProgId);
            test::ExpectErrorReport((control.Get()->*method)(data, nullptr), ombrix::kErrReadBlobFailed, COmbrix::kProgId);
        }
        test::FaultyBlob no_size, no_write;
        no_size.fail_set_size = true;
        no_write.fail_write = true;
        for (test::FaultyBlob* out : {&no_size, &no_write}) {
            // The earlier part of a computation is dropped with the failure: abc, not ab + abc.
            ASSERT_EQ((control.Get()->*method)(TextBlob("ab").Get(), nullptr), S_OK);
            EXPECT_EQ((control.Get()->*method)(TextBlob("abc").Get(), out), test::kBlobFailure);
            EXPECT_TRUE(test::TakeErrorInfo().present);
        }
        auto out = TextBlob("");
        ASSERT_EQ((control.Get()->*method)(TextBlob("abc").Get(), out.Get()), S_OK);
        EXPECT_EQ(Hex(out.Get()), method == &IOmbrix::Digest ? "a9993e364706816aba3e25717850c26c9cd0d89d"
                                                              : "9b4a918f398d74d3e367970aba3cbe54e4d2b5d9");
    }
}

}  // namespace
