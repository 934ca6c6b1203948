// The control over file and stream blobs: a window is exactly what gets processed, data crosses
// every blob class and back, and files beyond 4 GiB are digested, encrypted and decrypted with
// Progress64. Tests named Slow* read a 4.5 GiB sparse file (the slow group).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "blobs/FileBlob.h"
#include "blobs/MemBlob.h"
#include "blobs/Blob.h"
#include "blobs/Blob64.h"
#include "blobs/StreamBlob.h"
#include "control/Ombrix.h"
#include "control/fake_sink.h"
#include "test_util.h"

namespace {

using test::ComPtr;
using test::Create;

// A Linux path of the test data as Wine names it.
std::wstring DataPath(const char* name) {
    std::string path = std::string("Z:") + FILE_BLOB_DATA_DIR + "/" + name;
    return std::wstring(path.begin(), path.end());
}

std::string Hex(IBlob* blob) {
    ComPtr<IMemBlob> memory;
    EXPECT_EQ(blob->QueryInterface(IID_PPV_ARGS(&memory)), S_OK);
    com::Bstr hex;
    EXPECT_EQ(memory->ToHex(hex.Put()), S_OK);
    return hex.Get() ? std::string(hex.Get(), hex.Get() + SysStringLen(hex.Get())) : std::string();
}

ComPtr<IBlob> MemoryBlob(const std::string& bytes) {
    auto blob = Create<ombrix::CMemBlob, IBlob>();
    com::SafeArray array = com::SafeArray::Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
    SAFEARRAY* raw = array.Get();
    EXPECT_EQ(blob->Write(&raw), S_OK);
    return blob;
}

void PutText(HRESULT (STDMETHODCALLTYPE IOmbrix::*put)(VARIANT), IOmbrix* control, const wchar_t* text) {
    com::Variant value;
    VARIANT* raw = value.Put();
    V_VT(raw) = VT_BSTR;
    V_BSTR(raw) = SysAllocString(text);
    ASSERT_EQ((control->*put)(*value.Get()), S_OK);
}
void PutKey(IOmbrix* control, const wchar_t* key) { PutText(&IOmbrix::put_SecretKey, control, key); }
// The chaining register carries over between calls; each pass starts it afresh.
void RestartChain(IOmbrix* control) { PutText(&IOmbrix::put_InitVector, control, L"8 bytes!"); }

class FileOperations : public ::testing::Test {
protected:
    void SetUp() override { control_ = Create<ombrix::COmbrix, IOmbrix>(); }
    ComPtr<IOmbrix> control_;
};

TEST_F(FileOperations, AWindowIsExactlyWhatIsDigestedAndEncrypted) {
    std::string bytes(1000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + 7);
    const std::wstring path = test::TempPath(L"window_operations.bin");
    {
        auto writer = Create<ombrix::CFileBlob, IFileBlob>();
        ASSERT_EQ(writer->put_Filename(com::Bstr(path.c_str()).Get()), S_OK);
        ComPtr<IBlob> blob;
        ASSERT_EQ(writer.As(&blob), S_OK);
        com::SafeArray array = com::SafeArray::Bytes(bytes.data(), 1000);
        SAFEARRAY* raw = array.Get();
        ASSERT_EQ(blob->Write(&raw), S_OK);
    }
    auto file = Create<ombrix::CFileBlob, IFileBlob>();
    ASSERT_EQ(file->put_Filename(com::Bstr(path.c_str()).Get()), S_OK);
    ASSERT_EQ(file->put_ReadOnly(VARIANT_TRUE), S_OK);
    ASSERT_EQ(file->put_StartPos(100), S_OK);
    ASSERT_EQ(file->put_EndPos(599), S_OK);
    ComPtr<IBlob> window;
    ASSERT_EQ(file.As(&window), S_OK);
    const std::string inside = bytes.substr(100, 500);

    ASSERT_EQ(control_->put_type(SHA256), S_OK);
    auto windowed = Create<ombrix::CMemBlob, IBlob>();
    auto expected = Create<ombrix::CMemBlob, IBlob>();
    ASSERT_EQ(control_->Digest(window.Get(), windowed.Get()), S_OK);
    ASSERT_EQ(control_->Digest(MemoryBlob(inside).Get(), expected.Get()), S_OK);
    EXPECT_EQ(Hex(windowed.Get()), Hex(expected.Get()));

    ASSERT_EQ(control_->put_type(AES), S_OK);
    PutKey(control_.Get(), L"window key 16 b.");
    auto encrypted = Create<ombrix::CMemBlob, IBlob>();
    auto decrypted = Create<ombrix::CMemBlob, IBlob>();
    ASSERT_EQ(control_->Encrypt(window.Get(), encrypted.Get()), S_OK);
    ASSERT_EQ(encrypted->Seek(0, 0, nullptr), S_OK);
    ASSERT_EQ(control_->Decrypt(encrypted.Get(), decrypted.Get()), S_OK);
    ComPtr<IMemBlob> plain;
    ASSERT_EQ(decrypted.As(&plain), S_OK);
    SAFEARRAY* raw = nullptr;
    ASSERT_EQ(plain->ToArray(&raw), S_OK);
    com::SafeArray array(raw);
    com::SafeArrayAccess access(raw);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(access.Data()), com::SafeArrayCount(raw)), inside);
    file.Reset(), window.Reset();
    DeleteFileW(path.c_str());
}

// MemBlob -> Encrypt -> FileBlob -> Decrypt -> StreamBlob over an HGlobal stream -> ToFile; the
// check entry then compares that file with the input on the Linux side.
TEST_F(FileOperations, DataCrossesEveryBlobClassAndBack) {
    auto source = Create<ombrix::CMemBlob, IMemBlob>();
    ASSERT_EQ(source->FromFile(com::Bstr(DataPath("input.bin").c_str()).Get()), S_OK);
    ComPtr<IBlob> input;
    ASSERT_EQ(source.As(&input), S_OK);

    ASSERT_EQ(control_->put_type(Blowfish), S_OK);
    ASSERT_EQ(control_->put_Mode(CBC), S_OK);
    ASSERT_EQ(control_->put_Compression(ZlibCompression), S_OK);
    PutKey(control_.Get(), L"cross class key");
    RestartChain(control_.Get());
    auto file = Create<ombrix::CFileBlob, IFileBlob>();
    ComPtr<IBlob> encrypted;
    ASSERT_EQ(file.As(&encrypted), S_OK);
    ASSERT_EQ(control_->Encrypt(input.Get(), encrypted.Get()), S_OK);
    ASSERT_EQ(encrypted->Seek(0, 0, nullptr), S_OK);
    RestartChain(control_.Get());

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    auto stream_blob = Create<ombrix::CStreamBlob, IStreamBlob>();
    ASSERT_EQ(stream_blob->putref_Stream(stream.Get()), S_OK);
    ComPtr<IBlob> decrypted;
    ASSERT_EQ(stream_blob.As(&decrypted), S_OK);
    ASSERT_EQ(control_->Decrypt(encrypted.Get(), decrypted.Get()), S_OK);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 300001u);
    const std::wstring output = DataPath("output.bin");
    ASSERT_EQ(stream_blob->ToFile(com::Bstr(output.c_str()).Get()), S_OK);
}

// Counts the control's progress events and keeps the last Progress64.
class ProgressCounter final : public IDispatch {
public:
    uint64_t progress = 0, progress64 = 0, done = 0;
    uint64_t last_position = 0, last_total = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch)) return E_NOINTERFACE;
        *result = static_cast<IDispatch*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        if (id == 0) ++done;
        if (id == 1) ++progress;
        if (id == 2 && params->cArgs == 4) {
            ++progress64;
            auto half = [params](int i) { return static_cast<uint32_t>(V_I4(&params->rgvarg[3 - i])); };
            const uint64_t position = (uint64_t{half(0)} << 32) | half(1);
            const uint64_t total = (uint64_t{half(2)} << 32) | half(3);
            EXPECT_GE(position, last_position) << "progress goes forward";
            last_position = position;
            last_total = total;
        }
        return S_OK;
    }
};

class SlowLargeFile : public FileOperations {
protected:
    void SetUp() override {
        FileOperations::SetUp();
        file_ = Create<ombrix::CFileBlob, IFileBlob>();
        ASSERT_EQ(file_->put_ReadOnly(VARIANT_TRUE), S_OK);
        ASSERT_EQ(file_->put_Filename(com::Bstr(DataPath("sparse.bin").c_str()).Get()), S_OK);
        ASSERT_EQ(file_.As(&blob_), S_OK);
        point_ = test::EventsPoint(control_.Get());
        ASSERT_EQ(point_->Advise(&counter_, &cookie_), S_OK);
    }
    void TearDown() override {
        if (point_) point_->Unadvise(cookie_);
    }
    void ExpectWholeFileReported() {
        EXPECT_EQ(counter_.progress, 0u) << "a total beyond 32 bits is reported with Progress64 only";
        EXPECT_GT(counter_.progress64, 0u);
        EXPECT_EQ(counter_.last_total, kSize);
        EXPECT_EQ(counter_.last_position, kSize);
        EXPECT_EQ(counter_.done, 1u);
    }
    static constexpr uint64_t kSize = 4 * (uint64_t{1} << 30) + (uint64_t{1} << 29);
    ComPtr<IFileBlob> file_;
    ComPtr<IBlob> blob_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    ProgressCounter counter_;
};

TEST_F(SlowLargeFile, Crc32DigestAgreesWithZlib) {
    std::ifstream expected_file(std::string(FILE_BLOB_DATA_DIR) + "/sparse.crc32");
    std::string expected;
    expected_file >> expected;
    ASSERT_EQ(expected.size(), 8u);
    ASSERT_EQ(control_->put_type(CRC32), S_OK);
    auto out = Create<ombrix::CMemBlob, IBlob>();
    ASSERT_EQ(control_->Digest(blob_.Get(), out.Get()), S_OK);
    EXPECT_EQ(Hex(out.Get()), expected);
    ExpectWholeFileReported();
}

// Encryption and decryption pass over all 4.5 GiB; the output goes to a Blob64, which takes
// everything and keeps nothing, so no disk space is needed.
TEST_F(SlowLargeFile, EncryptAndDecryptPassOverEveryByte) {
    ASSERT_EQ(control_->put_type(RC4), S_OK);
    PutKey(control_.Get(), L"large file key");
    // The optimized header cannot record a length beyond 32 bits: such input is refused.
    EXPECT_EQ(control_->Encrypt(blob_.Get(), Create<ombrix::CBlob64, IBlob>().Get()), com::ErrorHResult(380));
    counter_ = ProgressCounter();
    ASSERT_EQ(control_->put_Optimized(VARIANT_FALSE), S_OK);
    auto sink = Create<ombrix::CBlob64, IBlob>();
    ASSERT_EQ(control_->Encrypt(blob_.Get(), sink.Get()), S_OK);
    ExpectWholeFileReported();
    counter_ = ProgressCounter();
    ASSERT_EQ(control_->Decrypt(blob_.Get(), sink.Get()), S_OK);
    ExpectWholeFileReported();
}

}  // namespace
