// The one error hook: a code of the error table, or a callee's failing HRESULT, reported to COM
// callers as an HRESULT with error information (description, source, GUID).
#pragma once

#include <windows.h>

#include <cstdint>

namespace com {

// The message for a code: the table's English text, else the system's message for the number,
// else "No description".
const char* ErrorMessage(int32_t code);

// The HRESULT in the control facility for a code (or a lower layer's failing HRESULT).
constexpr HRESULT ErrorHResult(int32_t code) {
    return static_cast<HRESULT>(0x800A0000u | static_cast<uint32_t>(code));
}

// Sets the thread's error information for `code` (description its message, source `source`, GUID
// `source_class`) and returns ErrorHResult(code).
HRESULT ReportError(int32_t code, const wchar_t* source, const GUID& source_class);

// Returns a callee's failing HRESULT unchanged, keeping the callee's error information, or, when
// it left none, setting one with the system's message for it.
HRESULT ReportFailure(HRESULT failure, const wchar_t* source, const GUID& source_class);

// Sets the thread's error information: `guid`, `source` and `description`.
void SetErrorReport(REFGUID guid, const wchar_t* source, const wchar_t* description);

// The error table as a class's error boundary (com::ErrorReporting) reports it, errors naming
// `SourceClass` as their GUID.
template <const GUID* SourceClass>
struct TableErrors {
    static HRESULT Report(int32_t code, const wchar_t* source) { return ReportError(code, source, *SourceClass); }
    static HRESULT ReportFailure(HRESULT failure, const wchar_t* source) {
        return com::ReportFailure(failure, source, *SourceClass);
    }
};

}  // namespace com
