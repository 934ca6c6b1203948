// The memory blob from a C++ client: the IBlob contract the control relies on, conversions,
// files, streams, arrays and the error report.
#include "blobs/MemBlob.h"

#include <gtest/gtest.h>

#include <string>

#include "base/error_codes.h"
#include "com/error_report.h"
#include "text/code_page.h"
#include "blobs/scripted_stream.h"
#include "test_util.h"

namespace {

using test::ComPtr;
using test::TakeArray;

class MemBlobTest : public ::testing::Test {
protected:
    void SetUp() override {
        mem_ = test::Create<ombrix::CMemBlob, IMemBlob>();
        ASSERT_TRUE(mem_);
        ASSERT_EQ(mem_.As(&blob_), S_OK);
    }
    void TearDown() override { ombrix::SetTextCodePage(65001); }

    void SetBytes(const std::string& bytes) {
        com::SafeArray array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
        SAFEARRAY* raw = array.Get();
        ASSERT_EQ(mem_->FromArray(&raw), S_OK);
    }
    std::string Bytes() {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(mem_->ToArray(&raw), S_OK);
        return TakeArray(raw);
    }
    std::string ReadBytes(LONG count) {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(blob_->Read(count, &raw), S_OK);
        return TakeArray(raw);
    }
    LONG SeekTo(LONG offset, LONG origin) {
        LONG position = -1;
        EXPECT_EQ(blob_->Seek(offset, origin, &position), S_OK);
        return position;
    }
    std::wstring Text() {
        com::Bstr text;
        EXPECT_EQ(mem_->get_Text(text.Put()), S_OK);
        return text.Get() ? text.Get() : L"<null>";
    }
    static void ExpectError(HRESULT hr, int32_t code) { test::ExpectErrorReport(hr, code, L"Kestrane.MemBlob.2"); }

    ComPtr<IMemBlob> mem_;
    ComPtr<IBlob> blob_;
};

TEST_F(MemBlobTest, InterfacesAndErrorInfoSupport) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(mem_->QueryInterface(IID_PPV_ARGS(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(dispatch.Get()), static_cast<IUnknown*>(static_cast<IDispatch*>(mem_.Get())));
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(mem_->QueryInterface(IID_PPV_ARGS(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IBlob), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IMemBlob), S_OK);
}

TEST_F(MemBlobTest, ReadConsumesAndSeekMakesConsumedBytesVisibleAgain) {
    EXPECT_EQ(ReadBytes(0), "");
    EXPECT_EQ(ReadBytes(5), "");  // empty blob
    SetBytes("abcdef");
    EXPECT_EQ(ReadBytes(0), "");
    EXPECT_EQ(ReadBytes(2), "ab");
    EXPECT_EQ(SeekTo(0, 1), 2);
    EXPECT_EQ(ReadBytes(-1), "cdef");
    EXPECT_EQ(Text(), L"<null>");
    EXPECT_EQ(SeekTo(0, 0), 0);
    EXPECT_EQ(ReadBytes(100), "abcdef");
    // Measuring: end, then back to the start.
    EXPECT_EQ(SeekTo(0, 2), 6);
    EXPECT_EQ(SeekTo(0, 0), 0);
    EXPECT_EQ(SeekTo(4, 0), 4);
    EXPECT_EQ(ReadBytes(10), "ef");
    // Positions outside the content are refused and change nothing.
    EXPECT_EQ(blob_->Seek(7, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(blob_->Seek(-1, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(SeekTo(0, 1), 6);
}

TEST_F(MemBlobTest, WriteAppendsBehindUnreadBytesOrStartsOverWhenAllWasRead) {
    SetBytes("abcd");
    EXPECT_EQ(ReadBytes(2), "ab");
    com::SafeArray more = com::SafeArray::Bytes("XY", 2);
    SAFEARRAY* raw = more.Get();
    ASSERT_EQ(blob_->Write(&raw), S_OK);
    EXPECT_EQ(SeekTo(0, 1), 2);
    EXPECT_EQ(Bytes(), "cdXY");
    EXPECT_EQ(ReadBytes(-1), "cdXY");
    ASSERT_EQ(blob_->Write(&raw), S_OK);
    EXPECT_EQ(SeekTo(0, 1), 0);
    EXPECT_EQ(SeekTo(0, 2), 2);  // the old bytes are gone
    EXPECT_EQ(SeekTo(0, 0), 0);
    EXPECT_EQ(Bytes(), "XY");

    SAFEARRAY* null_array = nullptr;
    EXPECT_EQ(blob_->Write(&null_array), E_POINTER);
    EXPECT_EQ(blob_->Write(nullptr), E_POINTER);
    EXPECT_EQ(mem_->FromArray(nullptr), E_POINTER);
}

TEST_F(MemBlobTest, ArraysWithAnyLowerBoundAreAccepted) {
    SAFEARRAYBOUND bound{3, -5};
    com::SafeArray array(SafeArrayCreate(VT_UI1, 1, &bound));
    {
        com::SafeArrayAccess access(array.Get());
        memcpy(const_cast<uint8_t*>(access.Data()), "xyz", 3);
    }
    SAFEARRAY* raw = array.Get();
    ASSERT_EQ(mem_->FromArray(&raw), S_OK);
    EXPECT_EQ(Bytes(), "xyz");
}

TEST_F(MemBlobTest, SetSizeTruncatesOrExtendsAndRewinds) {
    SetBytes("abcdef");
    ReadBytes(3);
    ASSERT_EQ(blob_->SetSize(4), S_OK);
    EXPECT_EQ(SeekTo(0, 1), 0);
    EXPECT_EQ(Bytes(), "abcd");
    ASSERT_EQ(blob_->SetSize(10000), S_OK);
    EXPECT_EQ(SeekTo(0, 2), 10000);
    EXPECT_EQ(blob_->SetSize(0), S_OK);
    EXPECT_EQ(SeekTo(0, 2), 0);
    // Sizes that cannot be held fail cleanly and leave the blob empty.
    EXPECT_EQ(blob_->SetSize(-1), E_OUTOFMEMORY);
    EXPECT_EQ(SeekTo(0, 2), 0);
    SetBytes("ok");
    EXPECT_EQ(Bytes(), "ok");
}

TEST_F(MemBlobTest, ToIntReadsLittleEndianWithoutPassingTheContent) {
    LONG value = 1234;
    EXPECT_EQ(mem_->ToInt(&value), S_OK);
    EXPECT_EQ(value, 1234);  // empty: untouched
    SetBytes(std::string("\x01\x02\x03\x04\x05", 5));
    EXPECT_EQ(mem_->ToInt(&value), S_OK);
    EXPECT_EQ(value, 0x04030201);
    SetBytes(std::string("\xff\x01", 2));
    EXPECT_EQ(mem_->ToInt(&value), S_OK);
    EXPECT_EQ(value, 0x01ff);
}

TEST_F(MemBlobTest, TextFollowsTheProcessCodePage) {
    com::Bstr e_acute(L"\u00e9");
    ASSERT_EQ(mem_->put_Text(e_acute.Get()), S_OK);
    EXPECT_EQ(Bytes(), "\xc3\xa9");
    EXPECT_EQ(Text(), L"\u00e9");
    ombrix::SetTextCodePage(1252);
    EXPECT_EQ(Text(), L"\u00c3\u00a9");
    com::Bstr empty(L"");
    ASSERT_EQ(mem_->put_Text(empty.Get()), S_OK);
    EXPECT_EQ(Text(), L"<null>");
    // Embedded zero characters are content too.
    com::Bstr with_zero(L"a\0b", 3);
    ASSERT_EQ(mem_->put_Text(with_zero.Get()), S_OK);
    EXPECT_EQ(Bytes(), std::string("a\0b", 3));
}

TEST_F(MemBlobTest, HexAndBase64ConversionsAndEmptyInput) {
    com::Bstr text;
    EXPECT_EQ(mem_->ToHex(text.Put()), S_OK);
    EXPECT_EQ(text.Get(), nullptr);
    SetBytes("\x01\xab\xff");
    ASSERT_EQ(mem_->ToHex(text.Put()), S_OK);
    EXPECT_STREQ(text.Get(), L"01abff");
    ASSERT_EQ(mem_->ToBase64(text.Put()), S_OK);
    EXPECT_STREQ(text.Get(), L"Aav/");
    com::Bstr hex(L"DEADbeef 00");
    ASSERT_EQ(mem_->FromHex(hex.Get()), S_OK);
    EXPECT_EQ(Bytes(), "\xde\xad\xbe\xef");
    com::Bstr base64(L"aGVs\r\nbG8=");
    ASSERT_EQ(mem_->FromBase64(base64.Get()), S_OK);
    EXPECT_EQ(Bytes(), "hello");
    com::Bstr empty(L"");
    ASSERT_EQ(mem_->FromBase64(empty.Get()), S_OK);
    EXPECT_EQ(SeekTo(0, 2), 0);
    SetBytes("x");
    ASSERT_EQ(mem_->FromHex(nullptr), S_OK);
    EXPECT_EQ(SeekTo(0, 2), 0);
}

TEST_F(MemBlobTest, FilesWholeAndInPartsAndTheirErrors) {
    const std::wstring path = test::TempPath(L"memblob_file_test.bin");
    std::string content;
    for (int i = 0; i < 200000; ++i) content.push_back(static_cast<char>(i * 7));
    SetBytes(content);
    com::Bstr name(path.c_str());
    ASSERT_EQ(mem_->ToFile(name.Get()), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path), content);

    SetBytes("junk");
    ASSERT_EQ(mem_->FromFile(name.Get()), S_OK);
    EXPECT_EQ(Bytes(), content);
    ASSERT_EQ(mem_->FromFilePart(name.Get(), 70000, 65537), S_OK);
    EXPECT_EQ(Bytes(), content.substr(70000, 65537));
    ASSERT_EQ(mem_->FromFilePart(name.Get(), 199990, 100), S_OK);
    EXPECT_EQ(Bytes(), content.substr(199990));
    ASSERT_EQ(mem_->FromFilePart(name.Get(), 5, 0), S_OK);
    EXPECT_EQ(Bytes(), "");
    ASSERT_EQ(mem_->FromFilePart(name.Get(), -10, 3), S_OK);  // the position stays at 0
    EXPECT_EQ(Bytes(), content.substr(0, 3));
    ASSERT_EQ(mem_->FromFilePart(name.Get(), 0, -1), S_OK);  // one chunk
    EXPECT_EQ(Bytes(), content.substr(0, 65535));
    ASSERT_EQ(mem_->FromFilePart(name.Get(), 300000, 10), S_OK);
    EXPECT_EQ(Bytes(), "");

    // The write starts at the current position.
    SetBytes("0123456789");
    ReadBytes(4);
    ASSERT_EQ(mem_->ToFile(name.Get()), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path), "456789");
    ReadBytes(-1);
    ASSERT_EQ(mem_->ToFile(name.Get()), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path), "");
    DeleteFileW(path.c_str());

    SetBytes("keep?");
    com::Bstr missing(test::TempPath(L"memblob_missing.bin").c_str());
    ExpectError(mem_->FromFile(missing.Get()), ombrix::kErrFileNotFound);
    EXPECT_EQ(SeekTo(0, 2), 0);
    ExpectError(mem_->FromFilePart(missing.Get(), 0, 10), ombrix::kErrFileNotFound);
    com::Bstr bad_dir(L"Z:\\no\\such\\directory\\file.bin");
    ExpectError(mem_->ToFile(bad_dir.Get()), ombrix::kErrWriteFault);
}

// A stream that hands out its bytes in small reads and the last ones together with S_FALSE,
// and refuses writes.
test::ScriptedStream ShortStream(std::string data) {
    test::ScriptedStream stream(std::move(data));
    stream.max_read = 1000;
    stream.s_false_with_last = true;
    stream.write_result = STG_E_ACCESSDENIED;
    return stream;
}

TEST_F(MemBlobTest, StreamsInBothDirections) {
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    std::string content(150000, 'q');
    content[149999] = 'z';
    SetBytes(content);
    ReadBytes(1);
    ASSERT_EQ(mem_->ToStream(stream.Get()), S_OK);
    LARGE_INTEGER start{};
    ASSERT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(mem_->FromStream(stream.Get()), S_OK);
    EXPECT_EQ(Bytes(), content.substr(1));

    test::ScriptedStream short_stream = ShortStream("abcdefghij" + std::string(2500, 'k'));
    ASSERT_EQ(mem_->FromStream(&short_stream), S_OK);
    // Short reads with S_OK go on until the stream reports its end.
    EXPECT_EQ(Bytes(), "abcdefghij" + std::string(2500, 'k'));
    EXPECT_EQ(mem_->ToStream(&short_stream), STG_E_ACCESSDENIED);
    EXPECT_EQ(mem_->ToStream(nullptr), E_INVALIDARG);
}

TEST_F(MemBlobTest, StreamEndingWithSFalseKeepsItsLastBytes) {
    test::ScriptedStream tail = ShortStream("last bytes");
    ASSERT_EQ(mem_->FromStream(&tail), S_OK);
    EXPECT_EQ(Bytes(), "last bytes");
}

}  // namespace
