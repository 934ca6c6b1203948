#include "control/errors.h"

#include <oleauto.h>

#include "com/Ombrix.h"
#include "com/error_reporting.h"
#include "com/holders.h"

namespace ombrix {
namespace {

struct ErrorRow {
    int32_t code;
    const char* message;
};

// Searched in this order; the row with code -1 ends the table.
constexpr ErrorRow kErrorTable[] = {
    {0, "No error."},
    {8, "Not enough storage is available to process this command."},
    {2, "The system cannot find the file specified."},
    {29, "The system cannot write to the specified device."},
    {13, "Type mismatch."},
    {380, "Invalid Property Value."},
    {30000, "No input text provided."},
    {30001, "Supplied argument is not a Blob."},
    {30002, "Failed to sign data."},
    {30003, "Selected Type cannot apply to this method. Please choose appropriate crypto type."},
    {30004, "Selected Type not supported."},
    {30005, "Secret Password is not set, or cannot be applied to selected algorithm."},
    {30006, "Failed to write to resulting blob."},
    {30007, "Failed to decrypt data. Try setting optimized=FALSE."},
    {30008, "Aborted by user."},
    {30009, "Failed to read blob."},
    {30010, "FileBlob is open in read-only mode."},
    {30011, "Failed to re-open FileBlob in read-write mode."},
    {30012, "Failed to decompress data."},
    {30013, "Input blob does not contain executable file."},
    {30014, "Input blob contains already signed file."},
    {30015, "Certificate or private key not provided."},
    {30016, "Signer's certificate not found in provided data."},
    {30017, "Failed to contact timestamp server."},
    {30018, "Stream property not specified."},
    {30019, "FileBlob is not open in read-only mode."},
    {30020, "FileBlob not loaded."},
    {31000, "The file was not signed or had a signature that was not valid."},
    {31001, "The form specified for the subject is not one supported or known by the specified trust provider."},
    {31002, "Unknown trust provider."},
    {31003, "The signature was not valid or there was an error accessing the data."},
    {31004, "The hash that represents the subject or the publisher is not allowed by the admin or user."},
    {31005, "The subject is not trusted for the specified action."},
    {31006, "The cryptographic operation failed due to a local security option setting."},
    {31008, "A required certificate is not within its validity period when verifying against the current system "
            "clock or the timestamp in the signed file."},
    {31009, "The validity periods of the certification chain do not nest correctly."},
    {31010, "A certificate that can only be used as an end-entity is being used as a CA or visa versa."},
    {31011, "A path length constraint in the certification chain has been violated."},
    {31012, "A certificate contains an unknown extension that is marked 'critical'."},
    {31013, "A certificate being used for a purpose other than the ones specified by its CA."},
    {31014, "A parent of a given certificate in fact did not issue that child certificate."},
    {31015, "A certificate is missing or has an empty value for an important field, such as a subject or issuer "
            "name."},
    {31016, "A certificate chain processed, but terminated in a root certificate which is not trusted by the trust "
            "provider."},
    {31017, "A certificate chain could not be built to a trusted root authority."},
    {31018, "Generic trust failure."},
    {31019, "A certificate was explicitly revoked by its issuer."},
    {31020, "The certification path terminates with the test root which is not trusted with the current policy "
            "settings."},
    {31021, "The revocation process could not continue - the certificate(s) could not be checked."},
    {31022, "The certificate's CN name does not match the passed value."},
    {31023, "The certificate is not valid for the requested usage."},
    {31025, "A certification chain processed correctly, but one of the CA certificates is not trusted by the policy "
            "provider."},
    {31026, "The certificate has invalid policy."},
    {31027, "The certificate has an invalid name. The name is not included in the permitted list or is explicitly "
            "excluded."},
    {33016, "Unable to load FIPS library."},
    {33017, "FIPS library failed to initialize."},
    {33018, "Not supported when FIPS enabled."},
    {-1, nullptr},
};

// Holds the last system-message fallback; valid until the next fallback lookup.
char g_system_message[8192];

}  // namespace

const char* ErrorMessage(int32_t code) {
    for (const ErrorRow* row = kErrorTable; row->code != -1; ++row) {
        if (row->code == code) return row->message;
    }
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), g_system_message, sizeof g_system_message, nullptr);
    return length ? g_system_message : "No description";
}

namespace {

// Sets the thread's error information: the message for `code`, source `prog_id`.
void SetReport(int32_t code, const wchar_t* prog_id) {
    const char* message = ErrorMessage(code);
    const int length = MultiByteToWideChar(CP_THREAD_ACP, 0, message, -1, nullptr, 0);
    com::Bstr description;
    if (length > 0) {
        description.Reset(SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)));
        if (description.Get()) MultiByteToWideChar(CP_THREAD_ACP, 0, message, -1, description.Get(), length);
    }
    com::SetErrorReport(CLSID_Ombrix, prog_id, description.Get());
}

}  // namespace

HRESULT ReportError(int32_t code, const wchar_t* prog_id) {
    SetReport(code, prog_id);
    return ErrorHResult(code);
}

HRESULT ReportFailure(HRESULT failure, const wchar_t* prog_id) {
    com::Ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.GetAddressOf()) == S_OK && info) {
        SetErrorInfo(0, info.Get());  // the blob's own report stays
    } else {
        SetReport(static_cast<int32_t>(failure), prog_id);
    }
    return failure;
}

}  // namespace ombrix
