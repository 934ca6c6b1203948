#include "com/error_report.h"

#include <oleauto.h>

#include "base/error_codes.h"
#include "com/holders.h"

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

namespace {

// Sets the thread's error information: the message for `code`, its source and the source's class.
void SetReport(int32_t code, const wchar_t* source, const GUID& source_class) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return;

    const char* message = ErrorMessage(code);
    const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, message, -1, nullptr, 0);
    Bstr description;
    if (length > 0) {
        description.Reset(SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
        if (description.Get()) MultiByteToWideChar(CP_THREAD_ACP, 0, message, -1, description.Get(), length);
    }
    create->SetGUID(source_class);
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(description.Get());

    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    create->Release();
}

}  // namespace

HRESULT ReportError(int32_t code, const wchar_t* source, const GUID& source_class) {
    SetReport(code, source, source_class);
    return ErrorHResult(code);
}

HRESULT ReportFailure(HRESULT failure, const wchar_t* source, const GUID& source_class) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        SetErrorInfo(0, info);  // the blob's own report stays
        info->Release();
    } else {
        SetReport(static_cast<int32_t>(failure), source, source_class);
    }
    return failure;
}

}  // namespace com
