// The error table, message lookup and the COM error report of the control and the blobs.
#pragma once

#include <windows.h>

#include <cstdint>

namespace ombrix {

// Error codes raised by the control and the blobs.
enum ErrorCode : int32_t {
    kErrNone = 0,
    kErrOutOfMemory = 8,
    kErrFileNotFound = 2,
    kErrNotReady = 6,
    kErrWriteFault = 29,
    kErrTypeMismatch = 13,
    kErrInvalidPropertyValue = 380,
    kErrNoInputText = 30000,
    kErrNotABlob = 30001,
    kErrSignFailed = 30002,
    kErrTypeNotForMethod = 30003,
    kErrTypeNotSupported = 30004,
    kErrNoSecretKey = 30005,
    kErrWriteResultFailed = 30006,
    kErrDecryptFailed = 30007,
    kErrAborted = 30008,
    kErrReadBlobFailed = 30009,
    kErrFileBlobReadOnly = 30010,
    kErrFileBlobReopenFailed = 30011,
    kErrDecompressFailed = 30012,
    kErrNotExecutable = 30013,
    kErrAlreadySigned = 30014,
    kErrNoCertificate = 30015,
    kErrSignerNotFound = 30016,
    kErrTimestampFailed = 30017,
    kErrNoStream = 30018,
    kErrFileBlobNotReadOnly = 30019,
    kErrFileBlobNotLoaded = 30020,
    kErrFipsLoad = 33016,
    kErrFipsInit = 33017,
    kErrFipsUnsupported = 33018,
};

// The message for a code: the table's English text, else the system's message for the number,
// else "No description".
const char* ErrorMessage(int32_t code);

// The HRESULT in the control facility for a code (or a lower layer's failing HRESULT).
constexpr HRESULT ErrorHResult(int32_t code) {
    return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(code));
}

// Sets the thread's error information for `code` (source `prog_id`, GUID the control's CLSID,
// description the message) and returns ErrorHResult(code).
HRESULT ReportError(int32_t code, const wchar_t* prog_id);

}  // namespace ombrix
