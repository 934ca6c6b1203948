#include "blobs/MemBlob.h"

#include <algorithm>

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

constexpr DWORD kFileChunk = 65535;     // file reads
constexpr DWORD kWriteChunk = 65536;    // file writes and stream reads

// Files are opened sharing reading and writing with others.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Appends the array's elements to the buffer: 0, or an error to return.
HRESULT AppendArray(SAFEARRAY** data_array, Buffer& buffer, bool* out_of_memory) {
    *out_of_memory = false;
    if (!data_array || !*data_array) return E_POINTER;
    SAFEARRAY* array = *data_array;
    if (SafeArrayGetElemsize(array) != 1) return DISP_E_TYPEMISMATCH;
    const uint32_t count = com::SafeArrayCount(array);
    com::SafeArrayAccess access(array);
    if (!access.Ok()) return E_FAIL;
    if (count && !buffer.Append(access.Data(), count)) *out_of_memory = true;
    return S_OK;
}

}  // namespace

STDMETHODIMP CMemBlob::get_Text(BSTR* value) try {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (storage_.Length() == 0) return S_OK;
    // A zero byte just past the content, as every append leaves.
    if (!storage_.Append(nullptr, 0)) return Error(kErrOutOfMemory);
    bool out_of_memory = false;
    *value = BytesToText(storage_.Data(), storage_.Length(), &out_of_memory);
    return out_of_memory ? Error(kErrOutOfMemory) : S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::put_Text(BSTR value) try {
    storage_.Clear();
    if (AppendTextBytes(value, storage_) < 0) {
        storage_.Clear();
        return Error(kErrOutOfMemory);
    }
    return S_OK;
} COM_CATCH

HRESULT CMemBlob::EncodeContent(cryptTRANSFORM& transform, BSTR* value) {
    if (!value) return E_POINTER;
    const int32_t code = EncodeToText(transform, storage_.Data(), storage_.Length(), value);
    return code ? Error(code) : S_OK;
}

HRESULT CMemBlob::DecodeContent(cryptTRANSFORM& transform, BSTR data) {
    storage_.Clear();
    if (SysStringLen(data) == 0) return S_OK;
    int32_t code = DecodeFromText(transform, data);
    if (!code && !storage_.Append(transform.output.Data(), transform.output.Length())) code = kErrOutOfMemory;
    transform.output.Clear();
    if (!code) return S_OK;
    storage_.Clear();
    return Error(code);
}

STDMETHODIMP CMemBlob::ToBase64(BSTR* value) try { return EncodeContent(base64_, value); } COM_CATCH
STDMETHODIMP CMemBlob::ToHex(BSTR* value) try { return EncodeContent(hex_, value); } COM_CATCH
STDMETHODIMP CMemBlob::FromBase64(BSTR data) try { return DecodeContent(base64_, data); } COM_CATCH
STDMETHODIMP CMemBlob::FromHex(BSTR data) try { return DecodeContent(hex_, data); } COM_CATCH

STDMETHODIMP CMemBlob::ToArray(SAFEARRAY** value) try {
    if (!value) return E_POINTER;
    com::SafeArray array = com::SafeArray::Bytes(storage_.Data(), storage_.Length());
    if (!array.Get()) return Error(kErrOutOfMemory);
    *value = array.Detach();
    return S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::FromArray(SAFEARRAY** data_array) try {
    if (!data_array || !*data_array) return E_POINTER;
    storage_.Clear();
    bool out_of_memory = false;
    const HRESULT hr = AppendArray(data_array, storage_, &out_of_memory);
    if (FAILED(hr)) return hr;
    if (out_of_memory) {
        storage_.Clear();
        return Error(kErrOutOfMemory);
    }
    return S_OK;
} COM_CATCH

HRESULT CMemBlob::ImportFile(BSTR filename, LONG start, LONG length, bool whole_file) {
    storage_.Clear();
    ombrix::FileHandle file(CreateFileW(filename ? filename : L"", GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Ok()) return Error(kErrFileNotFound);
    // A negative start fails to move the file position, which then stays at 0.
    if (!whole_file) SetFilePointer(file.Get(), start, nullptr, FILE_BEGIN);
    int64_t remaining = length;
    for (;;) {
        DWORD chunk = kFileChunk;
        if (!whole_file && static_cast<uint32_t>(remaining) < 65536) chunk = static_cast<DWORD>(remaining);
        uint8_t* space = storage_.AppendSpace(chunk + 1);
        if (!space) return Error(kErrOutOfMemory);
        DWORD got = 0;
        const BOOL ok = ReadFile(file.Get(), space, chunk, &got, nullptr);
        if (!ok) got = 0;
        space[got] = 0;
        storage_.ConsumeEnd(chunk + 1 - got);
        if (got == 0) break;
        if (!whole_file) {
            remaining -= got;
            if (remaining <= 0) break;
        }
    }
    return S_OK;
}

STDMETHODIMP CMemBlob::FromFile(BSTR filename) try { return ImportFile(filename, 0, 0, true); } COM_CATCH

STDMETHODIMP CMemBlob::FromFilePart(BSTR filename, LONG start, LONG length) try {
    return ImportFile(filename, start, length, false);
} COM_CATCH

// Every write is checked: a full disk must not leave a silently truncated file behind a success.
STDMETHODIMP CMemBlob::ToFile(BSTR filename) try {
    ombrix::FileHandle file(CreateFileW(filename ? filename : L"", GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Ok()) return Error(kErrWriteFault);
    const uint8_t* bytes = storage_.Data();
    uint32_t remaining = storage_.Length();
    while (remaining) {
        const DWORD chunk = remaining < kWriteChunk ? remaining : kWriteChunk;
        DWORD written = 0;
        if (!WriteFile(file.Get(), bytes, chunk, &written, nullptr) || written != chunk) return Error(kErrWriteFault);
        bytes += chunk;
        remaining -= chunk;
    }
    return S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::FromStream(IStream* stream) try {
    if (!stream) return E_INVALIDARG;
    storage_.Clear();
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kWriteChunk]);
    if (!chunk) return Error(kErrOutOfMemory);
    HRESULT result = S_OK;
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(chunk.get(), kWriteChunk, &got);
        // Bytes delivered together with S_FALSE (the end) or a failure are kept.
        if (got > kWriteChunk) got = 0;
        if (got && !storage_.Append(chunk.get(), got)) {
            result = Error(kErrOutOfMemory);
            break;
        }
        if (hr != S_OK || got == 0) break;
    }
    SecureZero(chunk.get(), kWriteChunk);
    return result;
} COM_CATCH

STDMETHODIMP CMemBlob::ToStream(IStream* stream) try {
    if (!stream) return E_INVALIDARG;
    return stream->Write(storage_.Data(), storage_.Length(), nullptr);
} COM_CATCH

STDMETHODIMP CMemBlob::ToInt(LONG* value) try {
    if (!value) return E_POINTER;
    if (storage_.Length()) *value = LittleEndianInt(storage_.Data(), storage_.Length());
    return S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::Read(LONG read_count, SAFEARRAY** data_array) try {
    if (!data_array) return E_POINTER;
    uint32_t count = static_cast<uint32_t>(read_count);
    if (count > storage_.Length()) count = storage_.Length();
    com::SafeArray array = com::SafeArray::Bytes(storage_.Data(), count);
    if (!array.Get()) return E_FAIL;
    storage_.Consume(count);
    *data_array = array.Detach();
    return S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::Write(SAFEARRAY** data_array) try {
    bool out_of_memory = false;
    const HRESULT hr = AppendArray(data_array, storage_, &out_of_memory);
    if (FAILED(hr)) return hr;
    return out_of_memory ? Error(kErrOutOfMemory) : S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::ReadInto(uint32_t count, Buffer* into) try {
    if (!into) return E_POINTER;
    count = std::min(count, storage_.Length());
    if (count && !into->Append(storage_.Data(), count)) return E_OUTOFMEMORY;
    storage_.Consume(count);
    return S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::WriteFrom(const uint8_t* bytes, uint32_t count) try {
    if (count && !bytes) return E_POINTER;
    return storage_.Append(bytes, count) ? S_OK : Error(kErrOutOfMemory);
} COM_CATCH

void CMemBlob::ReserveForWrites(uint32_t count) {
    if (storage_.AppendSpace(count)) storage_.ConsumeEnd(count);
}

// Reads consume the content window from its front and writes append to its end, as Read and
// Write do; WriteSpace may move the array, so a view is taken after it, never before.
const uint8_t* CMemBlob::ReadView(uint32_t count, uint32_t* available) {
    *available = std::min(count, storage_.Length());
    return storage_.Data();
}

void CMemBlob::ReadAdvance(uint32_t count) { storage_.Consume(std::min(count, storage_.Length())); }

uint8_t* CMemBlob::WriteSpace(uint32_t count) {
    uint8_t* space = storage_.AppendSpace(count);
    if (space) storage_.ConsumeEnd(count);
    return space;
}

void CMemBlob::WriteCommit(uint32_t count) { storage_.SetEndOffset(storage_.EndOffset() + count); }

void CMemBlob::Unwrite(uint32_t count) { storage_.ConsumeEnd(std::min(count, storage_.Length())); }

// Positions count from the start of the storage array. An absolute position outside the
// content window is refused, since the bytes there are not the blob's.
STDMETHODIMP CMemBlob::Seek(LONG offset, LONG origin, LONG* new_position) try {
    switch (origin) {
        case 0: {
            const uint32_t position = static_cast<uint32_t>(offset);
            if (offset < 0 || position > storage_.EndOffset()) return E_INVALIDARG;
            storage_.SetReadOffset(position);
            break;
        }
        case 1: break;
        case 2: storage_.SetReadOffset(storage_.EndOffset()); break;
        default: return E_INVALIDARG;
    }
    if (new_position) *new_position = static_cast<LONG>(storage_.ReadOffset());
    return S_OK;
} COM_CATCH

STDMETHODIMP CMemBlob::SetSize(LONG size) try {
    const uint32_t new_end = static_cast<uint32_t>(size);
    storage_.SetReadOffset(0);
    if (storage_.EndOffset() >= new_end) {
        storage_.SetEndOffset(new_end);
    } else if (!storage_.AppendSpace(new_end - storage_.EndOffset())) {
        storage_.Clear();
        return E_OUTOFMEMORY;
    }
    return S_OK;
} COM_CATCH

}  // namespace ombrix
