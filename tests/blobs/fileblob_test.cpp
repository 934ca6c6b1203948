// The file blob from a C++ client: temporary files, read-only mode and its window, the three
// states and their codes, 64-bit positions on a sparse 5 GiB file, and hostile input.
#include "blobs/FileBlob.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

using test::ComPtr;
constexpr wchar_t kSource[] = L"Kestrane.FileBlob.2";

std::string Pattern(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

void WriteTestFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

using test::TakeArray;

class FileBlobTest : public ::testing::Test {
protected:
    void SetUp() override {
        file_ = test::Create<ombrix::CFileBlob, IFileBlob>();
        ASSERT_TRUE(file_);
        ASSERT_EQ(file_.As(&blob_), S_OK);
        ASSERT_EQ(file_.As(&blob64_), S_OK);
    }
    HRESULT Open(const std::wstring& path) { return file_->put_Filename(com::Bstr(path.c_str()).Get()); }
    HRESULT PutText(const wchar_t* text) { return file_->put_Text(com::Bstr(text).Get()); }
    std::wstring Text() {
        com::Bstr text;
        EXPECT_EQ(file_->get_Text(text.Put()), S_OK);
        return text.Get() ? text.Get() : L"<null>";
    }
    std::wstring Name() {
        com::Bstr name;
        EXPECT_EQ(file_->get_Filename(name.Put()), S_OK);
        return name.Get() ? name.Get() : L"";
    }
    std::string ReadBytes(LONG count) {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(blob_->Read(count, &raw), S_OK);
        return raw ? TakeArray(raw) : "<none>";
    }
    std::string Bytes() {
        SAFEARRAY* raw = nullptr;
        EXPECT_EQ(file_->ToArray(&raw), S_OK);
        return raw ? TakeArray(raw) : "<none>";
    }
    HRESULT WriteBytes(const std::string& bytes) {
        com::SafeArray array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
        SAFEARRAY* raw = array.Get();
        return blob_->Write(&raw);
    }
    LONG SeekTo(LONG offset, LONG origin) {
        LONG position = -1;
        EXPECT_EQ(blob_->Seek(offset, origin, &position), S_OK);
        return position;
    }
    static void ExpectError(HRESULT hr, int32_t code) { test::ExpectErrorReport(hr, code, kSource); }

    ComPtr<IFileBlob> file_;
    ComPtr<IBlob> blob_;
    ComPtr<IBlob64> blob64_;
};

TEST_F(FileBlobTest, NewBlobDefaultsAndTemporaryFileGoneAfterRelease) {
    const std::wstring name = Name();
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    EXPECT_EQ(name.rfind(dir, 0), 0u) << "not in the temporary directory";
    EXPECT_EQ(name.substr(wcslen(dir), 3), L"blo");
    VARIANT_BOOL flag = 0;
    EXPECT_EQ(file_->get_AutoDelete(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_EQ(file_->get_ReadOnly(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(Text(), L"<null>");
    {
        ComPtr<ISupportErrorInfo> support;
        ASSERT_EQ(file_.As(&support), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IFileBlob), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IBlob), S_OK);
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(blob_.As(&dispatch), S_OK);
        EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(file_.Get()));
    }

    EXPECT_NE(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES);
    file_.Reset(), blob_.Reset(), blob64_.Reset();
    EXPECT_EQ(GetFileAttributesW(name.c_str()), INVALID_FILE_ATTRIBUTES) << "temporary file left behind";
}

TEST_F(FileBlobTest, TextPutsWriteAtThePositionWithoutTruncating) {
    ASSERT_EQ(PutText(L"abc"), S_OK);
    ASSERT_EQ(PutText(L"def"), S_OK);
    EXPECT_EQ(Text(), L"abcdef");
    EXPECT_EQ(SeekTo(0, 0), 0);
    ASSERT_EQ(PutText(L"XY"), S_OK);
    EXPECT_EQ(Text(), L"XYcdef");
    ASSERT_EQ(blob_->SetSize(0), S_OK);
    ASSERT_EQ(file_->FromHex(com::Bstr(L"01020304ff").Get()), S_OK);
    LONG value = 0;
    EXPECT_EQ(file_->ToInt(&value), S_OK);
    EXPECT_EQ(value, 0x04030201);
    com::Bstr hex;
    EXPECT_EQ(file_->ToHex(hex.Put()), S_OK);
    EXPECT_STREQ(hex.Get(), L"01020304ff");
    EXPECT_EQ(WriteBytes(""), S_OK);
    EXPECT_EQ(SeekTo(0, 2), 5);
}

TEST_F(FileBlobTest, LockedFileOpensReadOnlyAndRefusesReadWrite) {
    const std::wstring path = test::TempPath(L"fileblob_locked.bin");
    WriteTestFile(path, "locked content");
    // Another handle that shares reading only: write access cannot be had.
    HANDLE lock = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Open(path), S_OK);
    VARIANT_BOOL read_only = 0;
    EXPECT_EQ(file_->get_ReadOnly(&read_only), S_OK);
    EXPECT_EQ(read_only, VARIANT_TRUE);
    EXPECT_EQ(Text(), L"locked content");
    ExpectError(file_->put_ReadOnly(VARIANT_FALSE), 30011);
    ExpectError(PutText(L"x"), 30010);
    ExpectError(WriteBytes("x"), 30010);
    ExpectError(blob_->SetSize(0), 30010);
    ExpectError(blob64_->SetSize64(0, 0), 30010);
    CloseHandle(lock);
    EXPECT_EQ(file_->put_ReadOnly(VARIANT_FALSE), S_OK);
    EXPECT_EQ(file_->put_Filename(nullptr), S_OK);  // back to a temporary file
    EXPECT_EQ(test::ReadFileBytes(path), "locked content") << "a file the caller did not change";
    DeleteFileW(path.c_str());
}

TEST_F(FileBlobTest, WindowLimitsReadsSeeksAndWholeContent) {
    const std::wstring path = test::TempPath(L"fileblob_window.bin");
    const std::string bytes = Pattern(100);
    WriteTestFile(path, bytes);
    ASSERT_EQ(Open(path), S_OK);
    ExpectError(file_->put_StartPos(10), 30019);
    ASSERT_EQ(file_->put_ReadOnly(VARIANT_TRUE), S_OK);
    ASSERT_EQ(file_->put_StartPos(10), S_OK);
    ASSERT_EQ(file_->put_EndPos(19), S_OK);
    EXPECT_EQ(Bytes(), bytes.substr(10, 10));
    EXPECT_EQ(SeekTo(0, 0), 10);
    EXPECT_EQ(ReadBytes(4), bytes.substr(10, 4));
    EXPECT_EQ(ReadBytes(100), bytes.substr(14, 6)) << "a read must stop at EndPos";
    EXPECT_EQ(ReadBytes(100), "");
    EXPECT_EQ(SeekTo(0, 2), 20) << "the end as Seek reports it is EndPos + 1";
    EXPECT_EQ(SeekTo(50, 0), 20);
    EXPECT_EQ(SeekTo(3, 0), 10);
    LONG value = 0, start = 0, end = 0;
    EXPECT_EQ(file_->ToInt(&value), S_OK);
    EXPECT_EQ(static_cast<uint32_t>(value), static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8 |
                                                 static_cast<uint8_t>(bytes[12]) << 16 | uint32_t{static_cast<uint8_t>(bytes[13])} << 24);
    EXPECT_EQ(file_->get_StartPos(&start), S_OK);
    EXPECT_EQ(file_->get_EndPos(&end), S_OK);
    EXPECT_EQ(start, 10);
    EXPECT_EQ(end, 19);
    // A window beyond the file's end ends with the file.
    ASSERT_EQ(file_->put_EndPos(1000), S_OK);
    EXPECT_EQ(SeekTo(0, 2), 100);
    EXPECT_EQ(Bytes(), bytes.substr(10));
    ASSERT_EQ(file_->put_StartPos(-5), S_OK);  // a negative start counts from byte 0
    EXPECT_EQ(Bytes(), bytes);
    file_.Reset(), blob_.Reset(), blob64_.Reset();
    DeleteFileW(path.c_str());
}

TEST_F(FileBlobTest, ReadCountsArePositiveAndBounded) {
    ASSERT_EQ(WriteBytes("0123456789"), S_OK);
    EXPECT_EQ(SeekTo(0, 0), 0);
    EXPECT_EQ(ReadBytes(-1), "");
    EXPECT_EQ(ReadBytes(0x7FFFFFFF), "0123456789");
    EXPECT_EQ(ReadBytes(5), "");
    // The 32-bit forms read Offset and Size as unsigned numbers.
    EXPECT_EQ(SeekTo(-1, 0), -1);  // 2^32 - 1, beyond the end
    EXPECT_EQ(ReadBytes(5), "");
    LONG hi = 0, lo = 0;
    EXPECT_EQ(blob64_->Seek64(0, 0, 1, &hi, &lo), S_OK);
    EXPECT_EQ(hi, 0);
    EXPECT_EQ(lo, -1);
    // Refused moves report a code and leave the position.
    ExpectError(blob64_->Seek64(-1, -100, 0, &hi, &lo), ERROR_NEGATIVE_SEEK);
    ExpectError(blob64_->Seek64(0, 0, 7, &hi, &lo), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SeekTo(0, 1), -1);
    ExpectError(blob_->Read(1, nullptr), E_POINTER);
    ExpectError(blob_->Write(nullptr), E_POINTER);
    ExpectError(blob64_->SetSize64(-1, 0), 29);
    EXPECT_EQ(SeekTo(0, 2), 10) << "a refused size must not change the file";
}

TEST_F(FileBlobTest, NotLoadedStateGivesEachMemberItsCode) {
    ASSERT_EQ(file_->put_ReadOnly(VARIANT_TRUE), S_OK);
    ExpectError(Open(test::TempPath(L"fileblob_missing.bin")), 2);
    com::Bstr text;
    ExpectError(file_->get_Text(text.Put()), 2);
    ExpectError(file_->ToHex(text.Put()), 2);
    ExpectError(PutText(L"x"), 2);
    SAFEARRAY* raw = nullptr;
    ExpectError(file_->ToArray(&raw), 2);
    ExpectError(file_->put_ReadOnly(VARIANT_FALSE), 2);
    ExpectError(file_->put_StartPos(1), 30020);
    ExpectError(file_->put_EndPos(1), 30020);
    ExpectError(blob_->Read(1, &raw), 6);
    ExpectError(WriteBytes("x"), 6);
    LONG position = 0;
    ExpectError(blob_->Seek(0, 0, &position), 6);
    ExpectError(blob_->SetSize(0), 6);
    ExpectError(blob64_->SetSize64(0, 0), 6);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(file_->FromStream(stream.Get()), S_OK);
    EXPECT_EQ(file_->ToStream(stream.Get()), S_OK);
    // A directory is no file either.
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    ExpectError(Open(dir), 2);
    // A successful Filename put leaves the state.
    ASSERT_EQ(file_->put_Filename(nullptr), S_OK);
    EXPECT_EQ(PutText(L"back"), S_OK);
    EXPECT_EQ(Text(), L"back");
}

TEST_F(FileBlobTest, WrittenBytesReachTheFileExactlyAndTravelThroughStreams) {
    const std::wstring path = test::TempPath(L"fileblob_\u00e9\u4e2d.bin");
    ASSERT_EQ(Open(path), S_OK);
    const std::string bytes = Pattern(200000);
    ASSERT_EQ(WriteBytes(bytes.substr(0, 70000)), S_OK);
    ASSERT_EQ(WriteBytes(bytes.substr(70000)), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path), bytes);
    ASSERT_EQ(file_->put_ReadOnly(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Bytes(), bytes);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(file_->ToStream(stream.Get()), S_OK);
    ASSERT_EQ(file_->put_ReadOnly(VARIANT_FALSE), S_OK);
    ASSERT_EQ(blob_->SetSize(0), S_OK);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(file_->FromStream(stream.Get()), S_OK);
    EXPECT_EQ(test::ReadFileBytes(path), bytes);
    // Auto-delete finds a file whose name has no ANSI form.
    ASSERT_EQ(file_->put_AutoDelete(VARIANT_TRUE), S_OK);
    file_.Reset(), blob_.Reset(), blob64_.Reset();
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileBlobTest, FailedWritesAreReportedNotSwallowed) {
    // Under Wine the Linux device that is always full: every write fails as on a full disk.
    ASSERT_EQ(Open(L"Z:\\dev\\full"), S_OK);
    VARIANT_BOOL read_only = VARIANT_TRUE;
    ASSERT_EQ(file_->get_ReadOnly(&read_only), S_OK);
    ASSERT_EQ(read_only, VARIANT_FALSE);
    ExpectError(PutText(L"abc"), 29);
    ExpectError(file_->FromHex(com::Bstr(L"0102").Get()), 29);
    ExpectError(file_->FromBase64(com::Bstr(L"AQI=").Get()), 29);
    com::SafeArray array = com::SafeArray::Bytes("ab", 2);
    SAFEARRAY* raw = array.Get();
    ExpectError(file_->FromArray(&raw), 29);
    ExpectError(blob_->Write(&raw), 29);
    ExpectError(blob64_->SetSize64(0, 10), 29);
    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ULONG written = 0;
    ASSERT_EQ(stream->Write("xyz", 3, &written), S_OK);
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    ExpectError(file_->FromStream(stream.Get()), 29);
}

TEST_F(FileBlobTest, FileShrinkingUnderTheBlobGivesOnlyWhatIsThere) {
    const std::wstring path = test::TempPath(L"fileblob_shrink.bin");
    const std::string bytes = Pattern(100000);
    WriteTestFile(path, bytes);
    ASSERT_EQ(Open(path), S_OK);
    ASSERT_EQ(file_->put_ReadOnly(VARIANT_TRUE), S_OK);
    ASSERT_EQ(file_->put_StartPos(90000), S_OK);
    ASSERT_EQ(file_->put_EndPos(99999), S_OK);
    EXPECT_EQ(SeekTo(0, 0), 90000);
    EXPECT_EQ(ReadBytes(10), bytes.substr(90000, 10));
    HANDLE other = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    LARGE_INTEGER cut{};
    cut.QuadPart = 90005;
    ASSERT_TRUE(SetFilePointerEx(other, cut, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(other));
    CloseHandle(other);
    EXPECT_EQ(ReadBytes(100), "") << "the position lies past the new end";
    EXPECT_EQ(SeekTo(0, 2), 90005);
    EXPECT_EQ(Bytes(), bytes.substr(90000, 5));
    EXPECT_EQ(SeekTo(0, 0), 90000);
    EXPECT_EQ(ReadBytes(100), bytes.substr(90000, 5));
    file_.Reset(), blob_.Reset(), blob64_.Reset();
    DeleteFileW(path.c_str());
}

TEST_F(FileBlobTest, SparseFileBeyond4GiB) {
    constexpr int64_t kSize = 5LL << 30;
    constexpr int64_t kMark = (4LL << 30) + 10;
    const std::wstring path = test::TempPath(L"fileblob_sparse.bin");
    {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER at{};
        at.QuadPart = kSize;
        ASSERT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file));
        at.QuadPart = kMark;
        ASSERT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, "MARK", 4, &written, nullptr));
        CloseHandle(file);
    }
    ASSERT_EQ(Open(path), S_OK);
    LONG hi = -1, lo = -1;
    ASSERT_EQ(blob64_->Seek64(0, 0, 2, &hi, &lo), S_OK);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(lo, 1 << 30);
    EXPECT_EQ(SeekTo(0, 2), 1 << 30) << "Seek reports the low 32 bits";
    ASSERT_EQ(blob64_->Seek64(1, 8, 0, &hi, &lo), S_OK);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(lo, 8);
    EXPECT_EQ(ReadBytes(8), std::string("\0\0MARK\0\0", 8));
    ASSERT_EQ(blob64_->Seek64(0, -4, 1, &hi, &lo), S_OK);  // 32-bit halves: forward by 2^32 - 4
    EXPECT_EQ(hi, 2);
    ASSERT_EQ(blob64_->SetSize64(1, 12), S_OK);
    ASSERT_EQ(blob64_->Seek64(0, 0, 2, &hi, &lo), S_OK);
    EXPECT_EQ(hi, 1);
    EXPECT_EQ(lo, 12);
    ASSERT_EQ(blob64_->Seek64(1, 8, 0, &hi, &lo), S_OK);
    EXPECT_EQ(ReadBytes(100), std::string("\0\0MA", 4));
    file_.Reset(), blob_.Reset(), blob64_.Reset();
    DeleteFileW(path.c_str());
}

}  // namespace
