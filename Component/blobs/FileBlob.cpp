#include "blobs/FileBlob.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "text/text_encoding.h"
#include "base/error_codes.h"
#include "com/error_report.h"

namespace ombrix {
namespace {

constexpr DWORD kReadChunk = 65535;           // file reads into the blob's own buffers
// IBlob::Read and Write move bytes straight between the caller's array and the file, so larger
// system calls cost no memory; a 64 KiB request then takes one call instead of two.
constexpr DWORD kDirectChunk = 1 << 20;
constexpr DWORD kMemberWriteChunk = 65536;    // writes of Text put and the From… members
constexpr DWORD kStreamChunk = 65536;         // reads from a caller's stream
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();

int64_t Join(LONG hi, LONG lo) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32) | static_cast<uint32_t>(lo));
}

}  // namespace

CFileBlob::CFileBlob() {
    // Without a temporary file the blob has no name and stays not loaded.
    if (CreateTempName()) {
        OpenFile();
    } else {
        auto_delete_ = false;
    }
}

CFileBlob::~CFileBlob() {
    file_.Reset();
    DeleteIfAutoDelete();
}

bool CFileBlob::CreateTempName() {
    wchar_t dir[1024];
    const DWORD length = GetTempPathW(1024, dir);
    if (length == 0 || length >= 1024) return false;
    wchar_t name[MAX_PATH + 1];
    if (GetTempFileNameW(dir, L"blob", 0, name) == 0) return false;
    com::Bstr copy(name);
    if (!copy.Get()) {
        DeleteFileW(name);
        return false;
    }
    file_name_ = std::move(copy);
    return true;
}

void CFileBlob::DeleteIfAutoDelete() {
    // By the wide name: an ANSI conversion could miss the file or name another.
    if (auto_delete_ && !file_name_.Empty()) DeleteFileW(file_name_.Get());
}

bool CFileBlob::OpenFile() {
    file_.Reset();
    const wchar_t* name = file_name_.Get() ? file_name_.Get() : L"";
    if (!read_only_) {
        file_.Reset(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_.Ok()) return true;
    }
    // Write access refused (or not wanted): read-only, sharing as much as others allow.
    read_only_ = true;
    for (const DWORD share : {kShareAll, DWORD{FILE_SHARE_READ}, DWORD{0}}) {
        file_.Reset(CreateFileW(name, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file_.Ok()) return true;
    }
    return false;
}

int64_t CFileBlob::WindowBegin() const { return window_set_ ? std::max<int64_t>(window_start_, 0) : 0; }

int64_t CFileBlob::WindowEnd() const {
    if (!window_set_) return kNoLimit;
    return std::max<int64_t>(window_end_ + 1, WindowBegin());
}

bool CFileBlob::Position(int64_t* position) const {
    LARGE_INTEGER zero{}, now{};
    if (!SetFilePointerEx(file_.Get(), zero, &now, FILE_CURRENT)) return false;
    *position = now.QuadPart;
    return true;
}

bool CFileBlob::MoveTo(int64_t position) const {
    LARGE_INTEGER to{};
    to.QuadPart = position;
    return SetFilePointerEx(file_.Get(), to, nullptr, FILE_BEGIN) != FALSE;
}

bool CFileBlob::FileSize(int64_t* size) const {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(file_.Get(), &value)) return false;
    *size = value.QuadPart;
    return true;
}

int32_t CFileBlob::ReadRange(Buffer& into, int64_t limit) {
    const int64_t begin = WindowBegin();
    int64_t remaining = std::min(WindowEnd() - begin, limit);
    if (!MoveTo(begin)) return kErrNone;
    while (remaining > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<int64_t>(remaining, kReadChunk));
        // One byte more than the chunk: Append keeps a zero byte past the content.
        uint8_t* space = into.AppendSpace(chunk + 1);
        if (!space) return kErrOutOfMemory;
        DWORD got = 0;
        if (!ReadFile(file_.Get(), space, chunk, &got, nullptr) || got > chunk) got = 0;
        space[got] = 0;
        into.ConsumeEnd(chunk + 1 - got);
        if (got == 0) break;
        remaining -= got;
    }
    return kErrNone;
}

int32_t CFileBlob::WriteAll(const uint8_t* bytes, uint64_t count, uint32_t chunk_size) const {
    while (count) {
        const DWORD chunk = static_cast<DWORD>(std::min<uint64_t>(count, chunk_size));
        DWORD written = 0;
        if (!WriteFile(file_.Get(), bytes, chunk, &written, nullptr) || written != chunk) return kErrWriteFault;
        bytes += chunk;
        count -= chunk;
    }
    return kErrNone;
}

int32_t CFileBlob::WritableCode() const {
    if (!Loaded()) return kErrFileNotFound;
    if (read_only_) return kErrFileBlobReadOnly;
    return kErrNone;
}

// IFileBlob ---------------------------------------------------------------------------------

STDMETHODIMP CFileBlob::get_Filename(BSTR* value) try { return file_name_.CopyTo(value); } COM_CATCH

STDMETHODIMP CFileBlob::put_Filename(BSTR value) try {
    com::Bstr new_name;
    if (SysStringLen(value) != 0) {
        new_name = com::Bstr::Copy(value);
        if (!new_name.Get()) return E_OUTOFMEMORY;
    }
    file_.Reset();
    DeleteIfAutoDelete();
    auto_delete_ = false;
    if (new_name.Get()) {
        file_name_ = std::move(new_name);
    } else {
        file_name_.Reset();
        if (CreateTempName()) auto_delete_ = true;
        read_only_ = false;
    }
    if (file_name_.Empty() || !OpenFile()) return Error(kErrFileNotFound);
    return S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::get_AutoDelete(VARIANT_BOOL* value) try {
    return com::SetOut(value, com::ToVariantBool(auto_delete_));
} COM_CATCH

STDMETHODIMP CFileBlob::put_AutoDelete(VARIANT_BOOL value) try {
    auto_delete_ = value != 0;
    return S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::get_Text(BSTR* value) try {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (!Loaded()) return Error(kErrFileNotFound);
    Buffer range;
    if (const int32_t code = ReadRange(range, kNoLimit)) return Error(code);
    if (range.Length() == 0) return S_OK;
    bool out_of_memory = false;
    *value = BytesToText(range.Data(), range.Length(), &out_of_memory);
    return out_of_memory ? Error(kErrOutOfMemory) : S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::put_Text(BSTR value) try {
    if (const int32_t code = WritableCode()) return Error(code);
    Buffer bytes;
    if (AppendTextBytes(value, bytes) < 0) return Error(kErrOutOfMemory);
    const int32_t code = WriteAll(bytes.Data(), bytes.Length(), kMemberWriteChunk);
    return code ? Error(code) : S_OK;
} COM_CATCH

HRESULT CFileBlob::EncodeRange(cryptTRANSFORM& transform, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (!Loaded()) return Error(kErrFileNotFound);
    Buffer range;
    int32_t code = ReadRange(range, kNoLimit);
    if (!code) code = EncodeToText(transform, range.Data(), range.Length(), value);
    return code ? Error(code) : S_OK;
}

HRESULT CFileBlob::DecodeAndWrite(cryptTRANSFORM& transform, BSTR data) {
    if (const int32_t code = WritableCode()) return Error(code);
    if (SysStringLen(data) == 0) return S_OK;
    int32_t code = DecodeFromText(transform, data);
    if (!code) code = WriteAll(transform.output.Data(), transform.output.Length(), kMemberWriteChunk);
    transform.output.Clear();
    return code ? Error(code) : S_OK;
}

STDMETHODIMP CFileBlob::ToBase64(BSTR* value) try { return EncodeRange(base64_, value); } COM_CATCH
STDMETHODIMP CFileBlob::ToHex(BSTR* value) try { return EncodeRange(hex_, value); } COM_CATCH
STDMETHODIMP CFileBlob::FromBase64(BSTR data) try { return DecodeAndWrite(base64_, data); } COM_CATCH
STDMETHODIMP CFileBlob::FromHex(BSTR data) try { return DecodeAndWrite(hex_, data); } COM_CATCH

STDMETHODIMP CFileBlob::ToArray(SAFEARRAY** value) try {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (!Loaded()) return Error(kErrFileNotFound);
    Buffer range;
    if (const int32_t code = ReadRange(range, kNoLimit)) return Error(code);
    com::SafeArray array = com::SafeArray::Bytes(range.Data(), range.Length());
    if (!array.Get()) return Error(kErrOutOfMemory);
    *value = array.Detach();
    return S_OK;
} COM_CATCH

HRESULT CFileBlob::WriteArray(SAFEARRAY* array, uint32_t chunk) {
    if (SafeArrayGetElemsize(array) != 1) return DISP_E_TYPEMISMATCH;
    const uint32_t count = com::SafeArrayCount(array);
    if (count == 0) return S_OK;
    com::SafeArrayAccess access(array);
    if (!access.Ok()) return E_FAIL;
    const int32_t code = WriteAll(access.Data(), count, chunk);
    return code ? Error(code) : S_OK;
}

STDMETHODIMP CFileBlob::FromArray(SAFEARRAY** data_array) try {
    if (!data_array || !*data_array) return E_POINTER;
    if (const int32_t code = WritableCode()) return Error(code);
    return WriteArray(*data_array, kMemberWriteChunk);
} COM_CATCH

STDMETHODIMP CFileBlob::get_ReadOnly(VARIANT_BOOL* value) try {
    return com::SetOut(value, com::ToVariantBool(read_only_));
} COM_CATCH

STDMETHODIMP CFileBlob::put_ReadOnly(VARIANT_BOOL value) try {
    if (!Loaded()) return Error(kErrFileNotFound);
    const bool wanted = value != 0;
    file_.Reset();
    read_only_ = wanted;
    if (!OpenFile()) return Error(kErrFileNotFound);
    MoveTo(0);
    if (!wanted && read_only_) return Error(kErrFileBlobReopenFailed);
    return S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::FromStream(IStream* stream) try {
    if (!stream) return E_INVALIDARG;
    // Without a file there is nothing to write to: the stream is left untouched.
    if (!Loaded()) return S_OK;
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kStreamChunk]);
    if (!chunk) return Error(kErrOutOfMemory);
    int32_t code = kErrNone;
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(chunk.get(), kStreamChunk, &got);
        if (got > kStreamChunk) got = 0;
        // Bytes delivered together with S_FALSE or a failure are kept; read-only drops them.
        if (got && !read_only_) {
            code = WriteAll(chunk.get(), got, kMemberWriteChunk);
            if (code) break;
        }
        if (hr != S_OK || got == 0) break;
    }
    SecureZero(chunk.get(), kStreamChunk);
    return code ? Error(code) : S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::ToStream(IStream* stream) try {
    if (!stream) return E_INVALIDARG;
    if (!Loaded()) return S_OK;
    const int64_t begin = WindowBegin();
    int64_t remaining = WindowEnd() - begin;
    if (!MoveTo(begin)) return S_OK;
    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[kReadChunk]);
    if (!chunk) return Error(kErrOutOfMemory);
    HRESULT result = S_OK;
    while (remaining > 0) {
        const DWORD want = static_cast<DWORD>(std::min<int64_t>(remaining, kReadChunk));
        DWORD got = 0;
        if (!ReadFile(file_.Get(), chunk.get(), want, &got, nullptr) || got == 0 || got > want) break;
        remaining -= got;
        result = stream->Write(chunk.get(), got, nullptr);
        if (FAILED(result)) break;
    }
    SecureZero(chunk.get(), kReadChunk);
    return result;
} COM_CATCH

STDMETHODIMP CFileBlob::get_StartPos(LONG* value) try {
    return com::SetOut(value, static_cast<LONG>(static_cast<uint32_t>(window_start_)));
} COM_CATCH

HRESULT CFileBlob::PutWindowEdge(int64_t& edge, LONG value) {
    if (!Loaded()) return Error(kErrFileBlobNotLoaded);
    if (!read_only_) return Error(kErrFileBlobNotReadOnly);
    edge = value;
    window_set_ = true;
    return S_OK;
}

STDMETHODIMP CFileBlob::put_StartPos(LONG value) try {
    const HRESULT hr = PutWindowEdge(window_start_, value);
    if (SUCCEEDED(hr)) MoveTo(WindowBegin());
    return hr;
} COM_CATCH

STDMETHODIMP CFileBlob::get_EndPos(LONG* value) try {
    return com::SetOut(value, static_cast<LONG>(static_cast<uint32_t>(window_end_)));
} COM_CATCH

STDMETHODIMP CFileBlob::put_EndPos(LONG value) try { return PutWindowEdge(window_end_, value); } COM_CATCH

STDMETHODIMP CFileBlob::ToInt(LONG* value) try {
    if (!value) return E_POINTER;
    if (!Loaded()) return Error(kErrFileNotFound);
    // Only the first four bytes are needed; the position then ends where a read of the whole
    // range would leave it.
    Buffer head;
    if (const int32_t code = ReadRange(head, 4)) return Error(code);
    int64_t size = 0;
    if (FileSize(&size)) MoveTo(std::max(WindowBegin(), std::min(WindowEnd(), size)));
    if (head.Length()) *value = LittleEndianInt(head.Data(), head.Length());
    return S_OK;
} COM_CATCH

// IBlob -------------------------------------------------------------------------------------

// How many of `count` bytes a read may take from the position: all, unless a window or a large
// request needs the position and size first. 0 or the system's error code.
int32_t CFileBlob::ReadableCount(int64_t* count) const {
    // A modest request without a window is simply read and cut to what arrived; only a large
    // request or a window needs the position and the size first.
    if (!window_set_ && *count <= static_cast<int64_t>(kDirectChunk)) return kErrNone;
    int64_t position = 0, size = 0;
    if (!Position(&position) || !FileSize(&size)) return static_cast<int32_t>(GetLastError());
    // Reads stay inside the window: a position before it starts at its first byte.
    if (position < WindowBegin()) {
        position = WindowBegin();
        if (!MoveTo(position)) return static_cast<int32_t>(GetLastError());
    }
    const int64_t end = std::min(size, WindowEnd());
    *count = std::max<int64_t>(0, std::min<int64_t>(*count, end - position));
    return kErrNone;
}

// Reads up to `count` bytes into `data` from the position; `filled` receives how many arrived
// (fewer at the end). 0 or the system's error code, with `data` wiped.
int32_t CFileBlob::ReadInto(uint8_t* data, uint64_t count, uint64_t* filled) const {
    *filled = 0;
    while (*filled < count) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(count - *filled, kDirectChunk));
        DWORD got = 0;
        if (!ReadFile(file_.Get(), data + *filled, want, &got, nullptr)) {
            const DWORD error = GetLastError();
            SecureZero(data, count);
            *filled = 0;
            return static_cast<int32_t>(error);
        }
        if (got == 0 || got > want) break;
        *filled += got;
    }
    return kErrNone;
}

STDMETHODIMP CFileBlob::Read(LONG read_count, SAFEARRAY** data_array) try {
    if (!data_array) return Error(E_POINTER);
    if (!Loaded()) return Error(ERROR_INVALID_HANDLE);
    int64_t count = std::max<LONG>(read_count, 0);
    if (const int32_t error = ReadableCount(&count)) return Error(error);
    SAFEARRAYBOUND full{static_cast<ULONG>(count), 1};
    com::SafeArray array(SafeArrayCreate(VT_UI1, 1, &full));
    if (!array.Get()) return E_FAIL;
    uint64_t filled = 0;
    {
        com::SafeArrayAccess access(array.Get());
        if (!access.Ok()) return E_FAIL;
        if (const int32_t error = ReadInto(access.Data(), static_cast<uint64_t>(count), &filled)) return Error(error);
    }
    // The end came sooner (or the file shrank underneath): hand out only the bytes read.
    if (filled < static_cast<uint64_t>(count)) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(filled), 1};
        if (FAILED(SafeArrayRedim(array.Get(), &bound))) return E_FAIL;
    }
    *data_array = array.Detach();
    return S_OK;
} COM_CATCH

// The module's own passes read into their buffers and write from them without arrays, with the
// checks and results of Read and Write.
STDMETHODIMP CFileBlob::ReadInto(uint32_t count, Buffer* into) try {
    if (!into) return E_POINTER;
    if (!Loaded()) return Error(ERROR_INVALID_HANDLE);
    int64_t readable = std::min<uint32_t>(count, INT32_MAX);
    if (const int32_t error = ReadableCount(&readable)) return Error(error);
    if (readable == 0) return S_OK;
    uint8_t* space = into->AppendSpace(static_cast<uint32_t>(readable));
    if (!space) return Error(kErrOutOfMemory);
    uint64_t filled = 0;
    const int32_t error = ReadInto(space, static_cast<uint64_t>(readable), &filled);
    into->ConsumeEnd(static_cast<uint32_t>(readable - static_cast<int64_t>(filled)));
    return error ? Error(error) : S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::WriteFrom(const uint8_t* bytes, uint32_t count) try {
    if (count && !bytes) return E_POINTER;
    if (!Loaded()) return Error(ERROR_INVALID_HANDLE);
    if (read_only_) return Error(kErrFileBlobReadOnly);
    const int32_t code = WriteAll(bytes, count, kDirectChunk);
    return code ? Error(code) : S_OK;
} COM_CATCH

// A file grows as it is written: nothing to reserve.
void CFileBlob::ReserveForWrites(uint32_t) {}

STDMETHODIMP CFileBlob::Write(SAFEARRAY** data_array) try {
    if (!data_array || !*data_array) return Error(E_POINTER);
    if (!Loaded()) return Error(ERROR_INVALID_HANDLE);
    if (read_only_) return Error(kErrFileBlobReadOnly);
    return WriteArray(*data_array, kDirectChunk);
} COM_CATCH

STDMETHODIMP CFileBlob::Seek(LONG offset, LONG origin, LONG* new_position) try {
    return Seek64(0, offset, origin, nullptr, new_position);
} COM_CATCH

STDMETHODIMP CFileBlob::SetSize(LONG size) try { return SetSize64(0, size); } COM_CATCH

// IBlob64 -----------------------------------------------------------------------------------

// The end as Seek sees it is the window end (EndPos + 1) or the file end, whichever comes
// first; a resulting position is kept inside the window.
STDMETHODIMP CFileBlob::Seek64(LONG offset_hi, LONG offset, LONG origin, LONG* new_position_hi,
                               LONG* new_position) try {
    if (!Loaded()) return Error(ERROR_INVALID_HANDLE);
    const int64_t distance = Join(offset_hi, offset);
    int64_t base = 0;
    switch (origin) {
        case 0: break;
        case 1:
            if (!Position(&base)) return Error(static_cast<int32_t>(GetLastError()));
            break;
        case 2: {
            int64_t size = 0;
            if (!FileSize(&size)) return Error(static_cast<int32_t>(GetLastError()));
            base = std::min(size, WindowEnd());
            break;
        }
        default: return Error(ERROR_INVALID_PARAMETER);
    }
    int64_t target = 0;
    if (__builtin_add_overflow(base, distance, &target) || target < 0) return Error(ERROR_NEGATIVE_SEEK);
    if (window_set_) target = std::clamp(target, WindowBegin(), WindowEnd());
    if (!MoveTo(target)) return Error(static_cast<int32_t>(GetLastError()));
    const uint64_t reported = static_cast<uint64_t>(target);
    if (new_position) *new_position = static_cast<LONG>(static_cast<uint32_t>(reported));
    if (new_position_hi) *new_position_hi = static_cast<LONG>(static_cast<uint32_t>(reported >> 32));
    return S_OK;
} COM_CATCH

STDMETHODIMP CFileBlob::SetSize64(LONG size_hi, LONG size_lo) try {
    if (!Loaded()) return Error(ERROR_INVALID_HANDLE);
    if (read_only_) return Error(kErrFileBlobReadOnly);
    const int64_t size = Join(size_hi, size_lo);
    if (size < 0 || !MoveTo(size) || !SetEndOfFile(file_.Get())) return Error(kErrWriteFault);
    return S_OK;
} COM_CATCH

}  // namespace ombrix
