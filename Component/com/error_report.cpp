#include "com/error_report.h"

#include <oleauto.h>

#include "base/error_codes.h"
#include "com/holders.h"
#include "com/ptr.h"

namespace com {
namespace {

// Holds the last system-message fallback; valid until the next fallback lookup.
char g_system_message[8192];

}  // namespace

const char* ErrorMessage(int32_t code) {
    if (const char* message = ombrix::TableMessage(code)) return message;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), g_system_message, sizeof g_system_message, nullptr);
    return length ? g_system_message : "No description";
}

void SetErrorReport(REFGUID guid, const wchar_t* source, const wchar_t* description) {
    Ptr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.GetAddressOf()))) return;
    create->SetGUID(guid);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    if (const Ptr<IErrorInfo> info = TryQuery<IErrorInfo>(create.Get())) SetErrorInfo(0, info.Get());
}

namespace {

// Sets the thread's error information: the message for `code`, its source and the source's class.
void SetReport(int32_t code, const wchar_t* source, const GUID& source_class) {
    const char* message = ErrorMessage(code);
    const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, message, -1, nullptr, 0);
    Bstr description;
    if (length > 0) {
        description.Reset(SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
        if (description.Get()) MultiByteToWideChar(CP_THREAD_ACP, 0, message, -1, description.Get(), length);
    }
    SetErrorReport(source_class, source, description.Get());
}

}  // namespace

HRESULT ReportError(int32_t code, const wchar_t* source, const GUID& source_class) {
    SetReport(code, source, source_class);
    return ErrorHResult(code);
}

HRESULT ReportFailure(HRESULT failure, const wchar_t* source, const GUID& source_class) {
    Ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
        SetErrorInfo(0, info.Get());  // the callee's own report stays
    } else {
        SetReport(static_cast<int32_t>(failure), source, source_class);
    }
    return failure;
}

}  // namespace com
