#include "blobs/StreamBlob.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/unique.h"
#include "text/text_encoding.h"
#include "com/holders.h"
#include "base/error_codes.h"
#include "com/error_report.h"

namespace ombrix {
namespace {

constexpr ULONG kChunk = 65535;  // stream reads and file reads

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

HRESULT SeekToStart(IStream* stream) {
    LARGE_INTEGER zero{};
    return stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

// A wiped heap chunk for moving bytes between a file and the stream.
struct Chunk {
    std::unique_ptr<uint8_t[]> bytes{new (std::nothrow) uint8_t[kChunk]};
    ~Chunk() { if (bytes) SecureZero(bytes.get(), kChunk); }
};

}  // namespace

int32_t CStreamBlob::ReadWholeStream(Buffer& content) {
    if (FAILED(SeekToStart(stream_.Get()))) return kErrNone;
    for (;;) {
        uint8_t* space = content.AppendSpace(kChunk);
        if (!space) return kErrOutOfMemory;
        ULONG got = 0;
        const HRESULT hr = stream_->Read(space, kChunk, &got);
        if (got > kChunk) got = 0;
        // Bytes delivered together with S_FALSE or a failure are kept.
        content.ConsumeEnd(kChunk - got);
        if (FAILED(hr) || got == 0) return kErrNone;
    }
}

HRESULT CStreamBlob::WriteAll(const uint8_t* bytes, uint32_t count) {
    // A stream that takes only part of the bytes is given the rest, so nothing is dropped.
    do {
        ULONG written = 0;
        const HRESULT hr = stream_->Write(bytes, count, &written);
        if (FAILED(hr)) return hr;
        if (count == 0) return hr;
        if (written == 0 || written > count) return Error(kErrWriteFault);
        bytes += written;
        count -= written;
        if (count == 0) return hr;
    } while (true);
}

HRESULT CStreamBlob::Truncate() {
    ULARGE_INTEGER zero{};
    const HRESULT hr = stream_->SetSize(zero);
    if (FAILED(hr)) return hr;
    // SetSize leaves the position where it was; new data must start at 0, not behind a gap.
    const HRESULT moved = SeekToStart(stream_.Get());
    return FAILED(moved) ? moved : hr;
}

STDMETHODIMP CStreamBlob::get_Text(BSTR* value) try {
    if (!stream_) return Error(kErrNoStream);
    if (!value) return E_POINTER;
    *value = nullptr;
    Buffer content;
    if (const int32_t code = ReadWholeStream(content)) return Error(code);
    if (content.Length() == 0) return S_OK;
    bool out_of_memory = false;
    *value = BytesToText(content.Data(), content.Length(), &out_of_memory);
    return out_of_memory ? Error(kErrOutOfMemory) : S_OK;
} COM_CATCH

STDMETHODIMP CStreamBlob::put_Text(BSTR value) try {
    if (!stream_) return Error(kErrNoStream);
    Buffer bytes;
    if (AppendTextBytes(value, bytes) < 0) return Error(kErrOutOfMemory);
    // The text ends at its first zero byte.
    const uint32_t length = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(bytes.Data()), bytes.Length()));
    if (FAILED(SeekToStart(stream_.Get()))) return S_OK;
    // Written over the start without truncation: a longer old content keeps its tail.
    if (length) stream_->Write(bytes.Data(), length, nullptr);
    return S_OK;
} COM_CATCH

HRESULT CStreamBlob::EncodeContent(cryptTRANSFORM& transform, BSTR* value) {
    if (!stream_) return Error(kErrNoStream);
    if (!value) return E_POINTER;
    *value = nullptr;
    Buffer content;
    int32_t code = ReadWholeStream(content);
    if (!code) code = EncodeToText(transform, content.Data(), content.Length(), value);
    return code ? Error(code) : S_OK;
}

HRESULT CStreamBlob::DecodeContent(cryptTRANSFORM& transform, BSTR data) {
    if (!stream_) return Error(kErrNoStream);
    const HRESULT truncated = Truncate();
    if (FAILED(truncated) || SysStringLen(data) == 0) return truncated;
    const int32_t code = DecodeFromText(transform, data);
    if (code) {
        transform.output.Clear();
        return Error(code);
    }
    const HRESULT hr = WriteAll(transform.output.Data(), transform.output.Length());
    transform.output.Clear();
    return hr;
}

STDMETHODIMP CStreamBlob::ToBase64(BSTR* value) try { return EncodeContent(base64_, value); } COM_CATCH
STDMETHODIMP CStreamBlob::ToHex(BSTR* value) try { return EncodeContent(hex_, value); } COM_CATCH
STDMETHODIMP CStreamBlob::FromBase64(BSTR data) try { return DecodeContent(base64_, data); } COM_CATCH
STDMETHODIMP CStreamBlob::FromHex(BSTR data) try { return DecodeContent(hex_, data); } COM_CATCH

STDMETHODIMP CStreamBlob::ToArray(SAFEARRAY** value) try {
    if (!stream_) return Error(kErrNoStream);
    if (!value) return E_POINTER;
    *value = nullptr;
    Buffer content;
    if (const int32_t code = ReadWholeStream(content)) return Error(code);
    com::SafeArray array = com::SafeArray::Bytes(content.Data(), content.Length());
    if (!array.Get()) return Error(kErrOutOfMemory);
    *value = array.Detach();
    return S_OK;
} COM_CATCH

STDMETHODIMP CStreamBlob::FromArray(SAFEARRAY** data_array) try { return Write(data_array); } COM_CATCH

STDMETHODIMP CStreamBlob::FromFile(BSTR filename) try {
    if (!stream_) return Error(kErrNoStream);
    // The file is opened first: a wrong name must not cost the stream its content.
    ombrix::FileHandle file(CreateFileW(filename ? filename : L"", GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Ok()) return Error(kErrFileNotFound);
    const HRESULT truncated = Truncate();
    if (FAILED(truncated)) return truncated;
    Chunk chunk;
    if (!chunk.bytes) return Error(kErrOutOfMemory);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), chunk.bytes.get(), kChunk, &got, nullptr) || got == 0) return S_OK;
        // A stream that stops taking bytes fails the call rather than losing the rest.
        const HRESULT hr = WriteAll(chunk.bytes.get(), got);
        if (FAILED(hr)) return hr;
    }
} COM_CATCH

STDMETHODIMP CStreamBlob::ToFile(BSTR filename) try {
    if (!stream_) return Error(kErrNoStream);
    ombrix::FileHandle file(CreateFileW(filename ? filename : L"", GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Ok()) return Error(kErrWriteFault);
    const HRESULT moved = SeekToStart(stream_.Get());
    if (FAILED(moved)) return moved;
    Chunk chunk;
    if (!chunk.bytes) return Error(kErrOutOfMemory);
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream_->Read(chunk.bytes.get(), kChunk, &got);
        if (got > kChunk) got = 0;
        if (got) {
            DWORD written = 0;
            if (!WriteFile(file.Get(), chunk.bytes.get(), got, &written, nullptr) || written != got)
                return Error(kErrWriteFault);
        }
        // A failing stream read is reported, not taken for the end of the data.
        if (FAILED(hr)) return hr;
        if (got == 0) return moved;
    }
} COM_CATCH

STDMETHODIMP CStreamBlob::get_Stream(IStream** value) try { return value ? stream_.CopyTo(value) : E_POINTER; } COM_CATCH

STDMETHODIMP CStreamBlob::putref_Stream(IStream* value) try {
    stream_ = value;  // adds a reference to the new stream, then releases the old one
    return S_OK;
} COM_CATCH

STDMETHODIMP CStreamBlob::ToInt(LONG* value) try {
    if (!stream_) return Error(kErrNoStream);
    if (!value) return E_POINTER;
    Buffer content;
    if (const int32_t code = ReadWholeStream(content)) return Error(code);
    if (content.Length()) *value = LittleEndianInt(content.Data(), content.Length());
    return S_OK;
} COM_CATCH

STDMETHODIMP CStreamBlob::Read(LONG read_count, SAFEARRAY** data_array) try {
    if (!stream_) return Error(kErrNoStream);
    if (!data_array) return E_POINTER;
    *data_array = nullptr;
    const uint32_t count = static_cast<uint32_t>(read_count);
    // A negative count asks for more than 2 GiB; a reservation that cannot be had is refused.
    std::unique_ptr<uint8_t[]> space(new (std::nothrow) uint8_t[count ? count : 1]);
    if (!space) return E_OUTOFMEMORY;
    ULONG got = 0;
    const HRESULT hr = stream_->Read(space.get(), count, &got);
    if (got > count) got = 0;
    if (SUCCEEDED(hr)) {
        com::SafeArray array = com::SafeArray::Bytes(space.get(), got);
        if (array.Get()) *data_array = array.Detach();
    }
    SecureZero(space.get(), got);
    if (SUCCEEDED(hr) && !*data_array) return E_FAIL;
    return hr;
} COM_CATCH

STDMETHODIMP CStreamBlob::Write(SAFEARRAY** data_array) try {
    if (!stream_) return Error(kErrNoStream);
    if (!data_array || !*data_array) return E_POINTER;
    SAFEARRAY* array = *data_array;
    if (SafeArrayGetElemsize(array) != 1) return DISP_E_TYPEMISMATCH;
    const uint32_t count = com::SafeArrayCount(array);
    if (count == 0) {
        const uint8_t none = 0;
        return WriteAll(&none, 0);
    }
    com::SafeArrayAccess access(array);
    if (!access.Ok()) return E_FAIL;
    return WriteAll(access.Data(), count);
} COM_CATCH

STDMETHODIMP CStreamBlob::Seek(LONG offset, LONG origin, LONG* new_position) try {
    if (!stream_) return Error(kErrNoStream);
    LARGE_INTEGER move{};
    move.QuadPart = static_cast<uint32_t>(offset);  // the offset counts as unsigned
    ULARGE_INTEGER position{};
    const HRESULT hr = stream_->Seek(move, static_cast<DWORD>(origin), &position);
    if (FAILED(hr)) return hr;
    // A position beyond 32 bits cannot be reported; its low half would be a wrong answer.
    if (position.QuadPart > 0xFFFFFFFFull) return Error(ERROR_ARITHMETIC_OVERFLOW);
    if (new_position) *new_position = static_cast<LONG>(position.LowPart);
    return hr;
} COM_CATCH

STDMETHODIMP CStreamBlob::SetSize(LONG size) try {
    if (!stream_) return Error(kErrNoStream);
    ULARGE_INTEGER new_size{};
    new_size.QuadPart = static_cast<uint32_t>(size);
    return stream_->SetSize(new_size);
} COM_CATCH

}  // namespace ombrix
