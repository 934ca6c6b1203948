// The error table, message lookup and the COM error report of the control and the blobs.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/error_codes.h"

namespace ombrix {

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

// Returns a blob's failing HRESULT unchanged, keeping the blob's error information, or, when the
// blob left none, setting one with the system's message for it.
HRESULT ReportFailure(HRESULT failure, const wchar_t* prog_id);

// The table as the classes' error boundary (com::ErrorReporting) reports it.
struct ErrorTable {
    static HRESULT Report(int32_t code, const wchar_t* source) { return ReportError(code, source); }
    static HRESULT ReportFailure(HRESULT failure, const wchar_t* source) { return ombrix::ReportFailure(failure, source); }
};

}  // namespace ombrix
