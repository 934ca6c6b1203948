// The codes of the error table, shared by every layer: 0 is success.
#pragma once

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

// The English message of a code of the table, or null for a code the table does not list.
const char* TableMessage(int32_t code);

}  // namespace ombrix
