// The stream blob over HGlobal streams and over a stream that misbehaves on purpose, and the two
// blobs without storage, alone and handed to the control.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "blobs/MemBlob.h"
#include "blobs/Blob.h"
#include "blobs/Blob64.h"
#include "blobs/StreamBlob.h"
#include "blobs/scripted_stream.h"
#include "control/Ombrix.h"
#include "test_util.h"

namespace {

using test::ComPtr;
using test::Create;
using test::ScriptedStream;
constexpr wchar_t kSource[] = L"Kestrane.StreamBlob.2";

std::string TakeArray(SAFEARRAY* raw) {
    com::SafeArray array(raw);
    com::SafeArrayAccess access(raw);
    return std::string(reinterpret_cast<const char*>(access.Data()), com::SafeArrayCount(raw));
}

class StreamBlobTest : public ::testing::Test {
protected:
    void SetUp() override {
        blob_ = Create<ombrix::CStreamBlob, IStreamBlob>();
        ASSERT_EQ(blob_.As(&iblob_), S_OK);
    }
    void Attach(IStream* stream) { ASSERT_EQ(blob_->putref_Stream(stream), S_OK); }
    // A scripted stream attached to the blob; it outlives the blob, which releases it last.
    ScriptedStream& AttachScripted(std::string data) {
        scripted_.emplace(std::move(data));
        Attach(&*scripted_);
        return *scripted_;
    }
    std::string Bytes() {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(blob_->ToArray(&raw), S_OK);
        return raw ? TakeArray(raw) : "<none>";
    }
    std::wstring Text() {
        com::Bstr text;
        EXPECT_EQ(blob_->get_Text(text.Put()), S_OK);
        return text.Get() ? text.Get() : L"<null>";
    }
    HRESULT WriteArray(const std::string& bytes) {
        com::SafeArray array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
        SAFEARRAY* raw = array.Get();
        return blob_->FromArray(&raw);
    }
    static void ExpectError(HRESULT hr, int32_t code) { test::ExpectErrorReport(hr, code, kSource); }

    std::optional<ScriptedStream> scripted_;  // declared first: destroyed after the blob
    ComPtr<IStreamBlob> blob_;
    ComPtr<IBlob> iblob_;
};

TEST_F(StreamBlobTest, WithoutStreamEveryDataMemberGives30018AndNoFileIsMade) {
    ComPtr<IStream> stream;
    EXPECT_EQ(blob_->get_Stream(&stream), S_OK);
    EXPECT_EQ(stream, nullptr);
    com::Bstr text, data(L"00");
    LONG value = 0;
    SAFEARRAY* raw = nullptr;
    ExpectError(blob_->get_Text(text.Put()), 30018);
    ExpectError(blob_->put_Text(data.Get()), 30018);
    ExpectError(blob_->ToBase64(text.Put()), 30018);
    ExpectError(blob_->ToHex(text.Put()), 30018);
    ExpectError(blob_->FromBase64(data.Get()), 30018);
    ExpectError(blob_->FromHex(data.Get()), 30018);
    ExpectError(blob_->ToArray(&raw), 30018);
    ExpectError(WriteArray("x"), 30018);
    ExpectError(blob_->ToInt(&value), 30018);
    ExpectError(iblob_->Read(1, &raw), 30018);
    ExpectError(iblob_->Seek(0, 0, &value), 30018);
    ExpectError(iblob_->SetSize(0), 30018);
    const std::wstring path = test::TempPath(L"streamblob_never.bin");
    ExpectError(blob_->ToFile(com::Bstr(path.c_str()).Get()), 30018);
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ExpectError(blob_->FromFile(com::Bstr(path.c_str()).Get()), 30018);

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(blob_.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IStreamBlob), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IBlob), S_OK);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(iblob_.As(&dispatch), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(blob_.Get()));
}

TEST_F(StreamBlobTest, StreamReferencesAreCountedAndReleased) {
    ScriptedStream first, second;
    Attach(&first);
    EXPECT_EQ(first.refs, 2u);
    ComPtr<IStream> got;
    ASSERT_EQ(blob_->get_Stream(&got), S_OK);
    EXPECT_EQ(got.Get(), static_cast<IStream*>(&first));
    EXPECT_EQ(first.refs, 3u);
    got.Reset();
    Attach(&second);
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 2u);
    Attach(nullptr);
    EXPECT_EQ(second.refs, 1u);
    Attach(&second);
    blob_.Reset(), iblob_.Reset();
    EXPECT_EQ(second.refs, 1u) << "the final release drops the stream";
}

TEST_F(StreamBlobTest, TextPutKeepsOldTailAndFromMembersStartAtZero) {
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    Attach(stream.Get());
    ASSERT_EQ(blob_->put_Text(com::Bstr(L"a longer old text").Get()), S_OK);
    ASSERT_EQ(blob_->put_Text(com::Bstr(L"NEW").Get()), S_OK);
    EXPECT_EQ(Text(), L"NEWonger old text");
    // After the whole-stream read the position is at the end: FromArray appends there.
    ASSERT_EQ(WriteArray("!"), S_OK);
    EXPECT_EQ(Text(), L"NEWonger old text!");
    LONG position = -1;
    EXPECT_EQ(iblob_->Seek(0, 2, &position), S_OK);
    EXPECT_EQ(position, 18);
    SAFEARRAY* raw = nullptr;
    EXPECT_EQ(iblob_->Read(10, &raw), S_OK);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(TakeArray(raw), "");

    // Truncating members write from byte 0, not after a run of zeros at the old position.
    ASSERT_EQ(blob_->FromHex(com::Bstr(L"414243").Get()), S_OK);
    EXPECT_EQ(Bytes(), "ABC");
    ASSERT_EQ(blob_->FromBase64(com::Bstr(L"eHl6").Get()), S_OK);
    EXPECT_EQ(Bytes(), "xyz");
    com::Bstr hex, base64;
    EXPECT_EQ(blob_->ToHex(hex.Put()), S_OK);
    EXPECT_STREQ(hex.Get(), L"78797a");
    EXPECT_EQ(blob_->ToBase64(base64.Put()), S_OK);
    EXPECT_EQ(std::wstring(base64.Get()).substr(0, 4), L"eHl6");
    LONG value = 0;
    EXPECT_EQ(blob_->ToInt(&value), S_OK);
    EXPECT_EQ(value, 0x7a7978);
    ASSERT_EQ(blob_->FromHex(nullptr), S_OK);
    EXPECT_EQ(Text(), L"<null>") << "an empty FromHex truncates";
}

TEST_F(StreamBlobTest, FilesInAndOutThroughTheStream) {
    const std::wstring in_path = test::TempPath(L"streamblob_in.bin");
    const std::wstring out_path = test::TempPath(L"streamblob_out.bin");
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31 + (i >> 9));
    {
        HANDLE file = CreateFileW(in_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
        CloseHandle(file);
    }
    ScriptedStream& stream = AttachScripted("old content that is longer than nothing");
    stream.position = 7;
    stream.max_read = 1000;
    stream.max_write = 4000;  // a stream that takes part of each write still receives everything
    ASSERT_EQ(blob_->FromFile(com::Bstr(in_path.c_str()).Get()), S_OK);
    EXPECT_EQ(stream.data, content);
    ASSERT_EQ(blob_->ToFile(com::Bstr(out_path.c_str()).Get()), S_OK);
    EXPECT_EQ(test::ReadFileBytes(out_path), content);

    ExpectError(blob_->FromFile(com::Bstr(test::TempPath(L"streamblob_missing.bin").c_str()).Get()), 2);
    EXPECT_EQ(stream.data, content) << "a missing file leaves the stream as it was";
    ExpectError(blob_->ToFile(com::Bstr(L"Z:\\no\\such\\dir\\out.bin").Get()), 29);
    // A read failing half-way is reported; the file holds what the stream delivered.
    stream.fail_read_after = stream.reads + 3;
    EXPECT_EQ(blob_->ToFile(com::Bstr(out_path.c_str()).Get()), STG_E_READFAULT);
    EXPECT_EQ(test::ReadFileBytes(out_path), content.substr(0, 3000));
    DeleteFileW(in_path.c_str());
    DeleteFileW(out_path.c_str());
}

TEST_F(StreamBlobTest, MisbehavingStreamsLoseNothingTheyDelivered) {
    ScriptedStream& stream = AttachScripted(std::string(5000, 'a') + "tail");
    stream.max_read = 700;
    stream.s_false_with_last = true;
    EXPECT_EQ(Bytes(), std::string(5000, 'a') + "tail") << "short reads, then the end together with S_FALSE";

    // A failure in the middle of the whole-stream read ends it quietly with what came before.
    stream.fail_read_after = 2;
    stream.reads = 0;
    EXPECT_EQ(Bytes(), std::string(1400, 'a'));
    stream.reads = 0;
    SAFEARRAY* raw = nullptr;
    EXPECT_EQ(iblob_->Seek(0, 0, nullptr), S_OK);
    stream.reads = 2;
    EXPECT_EQ(iblob_->Read(10, &raw), STG_E_READFAULT);
    EXPECT_EQ(raw, nullptr);
    stream.fail_read_after = -1;
    ASSERT_EQ(iblob_->Read(3, &raw), S_OK);
    EXPECT_EQ(TakeArray(raw), "aaa");
    EXPECT_EQ(iblob_->Seek(0, 2, nullptr), S_OK);
    EXPECT_EQ(iblob_->Read(10, &raw), S_FALSE) << "the stream's own end code passes through";
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(TakeArray(raw), "");

    // A stream that cannot be truncated refuses the truncating members before anything is written.
    stream.set_size_result = STG_E_INVALIDFUNCTION;
    const std::string before = stream.data;
    EXPECT_EQ(blob_->FromHex(com::Bstr(L"00").Get()), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(iblob_->SetSize(1), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream.data, before);

    // A refused Seek: the whole-stream read is empty, Seek passes the code on.
    stream.seek_result = STG_E_INVALIDPOINTER;
    EXPECT_EQ(Bytes(), "");
    LONG position = 5;
    EXPECT_EQ(iblob_->Seek(0, 0, &position), STG_E_INVALIDPOINTER);
    stream.seek_result = S_OK;

    // Offsets count as unsigned; a position beyond 32 bits is refused rather than cut.
    EXPECT_EQ(iblob_->Seek(-1, 0, &position), S_OK);
    EXPECT_EQ(stream.position, 0xFFFFFFFFull);
    EXPECT_EQ(position, -1);
    EXPECT_TRUE(FAILED(iblob_->Seek(1, 1, &position)));
    EXPECT_EQ(position, -1);
    EXPECT_EQ(iblob_->Read(1, nullptr), E_POINTER);
    EXPECT_EQ(iblob_->Write(nullptr), E_POINTER);
}

TEST(NullBlobs, BlobFailsAndBlob64SucceedsWithoutTouchingParameters) {
    auto blob = Create<ombrix::CBlob, IBlob>();
    SAFEARRAY* marker = reinterpret_cast<SAFEARRAY*>(0x1234);
    SAFEARRAY* raw = marker;
    LONG position = 77, high = 88;
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(blob->Read(5, &raw), E_FAIL);
    EXPECT_EQ(blob->Write(&raw), E_FAIL);
    EXPECT_EQ(blob->Seek(0, 2, &position), E_FAIL);
    EXPECT_EQ(blob->SetSize(0), E_FAIL);
    EXPECT_EQ(raw, marker);
    EXPECT_EQ(position, 77);
    EXPECT_FALSE(test::TakeErrorInfo().present);
    ComPtr<IBlob64> absent;
    EXPECT_EQ(blob.As(&absent), E_NOINTERFACE);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(blob.As(&dispatch), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(blob.Get()));

    auto blob64 = Create<ombrix::CBlob64, IBlob64>();
    ComPtr<IBlob> as_blob;
    ASSERT_EQ(blob64.As(&as_blob), S_OK);
    EXPECT_EQ(blob64->Seek64(1, 2, 0, &high, &position), S_OK);
    EXPECT_EQ(blob64->SetSize64(1, 2), S_OK);
    EXPECT_EQ(as_blob->Read(5, &raw), S_OK);
    EXPECT_EQ(as_blob->Write(&raw), S_OK);
    EXPECT_EQ(as_blob->Seek(0, 2, &position), S_OK);
    EXPECT_EQ(as_blob->SetSize(0), S_OK);
    EXPECT_EQ(raw, marker);
    EXPECT_EQ(position, 77);
    EXPECT_EQ(high, 88);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(blob64.As(&support), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IBlob64), S_OK);
    ASSERT_EQ(as_blob.As(&dispatch), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(blob64.Get()));
}

TEST(NullBlobs, TheControlSeesNoDataInBlob64AndAFailureInBlob) {
    auto control = Create<ombrix::COmbrix, IOmbrix>();
    auto out = Create<ombrix::CMemBlob, IBlob>();
    ComPtr<IMemBlob> out_memory;
    ASSERT_EQ(out.As(&out_memory), S_OK);
    ASSERT_EQ(control->put_type(MD5), S_OK);
    // Blob64 writes none of the positions it is asked for: the control reads a size of 0.
    auto blob64 = Create<ombrix::CBlob64, IBlob>();
    ASSERT_EQ(control->Digest(blob64.Get(), out.Get()), S_OK);
    com::Bstr hex;
    ASSERT_EQ(out_memory->ToHex(hex.Put()), S_OK);
    EXPECT_STREQ(hex.Get(), L"d41d8cd98f00b204e9800998ecf8427e");
    auto blob = Create<ombrix::CBlob, IBlob>();
    ASSERT_EQ(control->put_type(AES), S_OK);
    VARIANT key;
    V_VT(&key) = VT_BSTR;
    V_BSTR(&key) = SysAllocString(L"0123456789abcdef");
    ASSERT_EQ(control->put_SecretKey(key), S_OK);
    VariantClear(&key);
    EXPECT_TRUE(FAILED(control->Encrypt(blob.Get(), out.Get())));
    EXPECT_TRUE(FAILED(control->Encrypt(out.Get(), blob.Get())));
}

}  // namespace
