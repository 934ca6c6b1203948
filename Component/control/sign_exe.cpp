// SignEXE and VerifyEXE: Authenticode signatures of executables held in blobs.
#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "text/text_encoding.h"
#include "codesign/authenticode_signer.h"
#include "codesign/pe_image.h"
#include "com/variant_reference.h"
#include "binding/fips.h"
#include "control/Ombrix.h"
#include "control/blob_access.h"
#include "codesign/certificate_table.h"
#include "base/error_codes.h"
#include "com/error_report.h"
#include "control/key_intake.h"
#include "codesign/platform_authenticode.h"
#include "base/secure_bytes.h"

namespace ombrix {
namespace {

// {4D9AE59C-8651-4F93-8D07-74E3A4B412F8}: the certificate component's class.
constexpr CLSID kCertificateClass = {0x4d9ae59c, 0x8651, 0x4f93, {0x8d, 0x07, 0x74, 0xe3, 0xa4, 0xb4, 0x12, 0xf8}};
// In-process server and handler, local and remote server.
constexpr DWORD kCertificateContexts = 0x17;

// An optional argument's text, a variable followed: a string, or a string by reference up to
// its first null character, in the ANSI code page; anything else is empty.
std::string OptionalText(const VARIANT& argument) {
    const VARIANT& value = com::Dereference(argument);
    BSTR text = nullptr;
    if (V_VT(&value) == VT_BSTR) text = V_BSTR(&value);
    else if (V_VT(&value) == (VT_BSTR | VT_BYREF) && V_BSTRREF(&value)) text = *V_BSTRREF(&value);
    std::string narrow;
    if (text) NarrowAnsi(text, static_cast<uint32_t>(wcsnlen(text, SysStringLen(text))), narrow);
    return narrow;
}

// A BSTR property of the certificate object as ANSI text; false when the get fails.
bool CertificateText(ICertificate* certificate, HRESULT (STDMETHODCALLTYPE ICertificate::*get)(BSTR*),
                     std::string& text) {
    BSTR raw = nullptr;
    if (FAILED((certificate->*get)(&raw))) return false;
    com::Bstr value;
    value.Reset(raw);
    NarrowAnsi(value.Get(), value.Length(), text);
    // The text may be a private key: the wide copy goes as soon as it is converted.
    SecureZero(value.Get(), value.Length() * sizeof(wchar_t));
    return true;
}

// The certificate as PEM text, from the context the store key belongs to.
bool PemOfContext(PCCERT_CONTEXT context, std::string& pem) {
    DWORD length = 0;
    if (!CryptBinaryToStringA(context->pbCertEncoded, context->cbCertEncoded, CRYPT_STRING_BASE64HEADER, nullptr,
                              &length)) {
        return false;
    }
    pem.assign(length, '\0');
    if (!CryptBinaryToStringA(context->pbCertEncoded, context->cbCertEncoded, CRYPT_STRING_BASE64HEADER, pem.data(),
                              &length)) {
        return false;
    }
    pem.resize(length);
    return true;
}

// The signature's digest follows the algorithm property: the SHA types sign with their digest and
// RFC 3161 time stamps, every other type with MD5 and the legacy time stamp.
AuthenticodeDigest SignatureDigest(int32_t type) {
    switch (type) {
    case CryptoTypes::SHA1: return AuthenticodeDigest::kSha1;
    case CryptoTypes::SHA256: return AuthenticodeDigest::kSha256;
    case CryptoTypes::SHA384: return AuthenticodeDigest::kSha384;
    case CryptoTypes::SHA512: return AuthenticodeDigest::kSha512;
    default: return AuthenticodeDigest::kMd5;
    }
}

}  // namespace

STDMETHODIMP COmbrix::SignEXE(IBlob* data, IBlob* out_blob, VARIANT timestamp_url, VARIANT description,
                              VARIANT url) try {
    const CryptoUse crypto;
    if (!data || !out_blob) return E_INVALIDARG;
    const com::Ptr<IBlob> input = com::TryQuery<IBlob>(data);
    const com::Ptr<IBlob> output = com::TryQuery<IBlob>(out_blob);
    if (!input || !output) return Error(kErrNotABlob);
    // Reading the image while writing over it would sign garbage.
    if (com::SameObject(input.Get(), output.Get())) return E_INVALIDARG;

    // The checks look at what will be signed: the image from its start.
    ComBlobPort input_port(input.Get());
    PeLayout layout;
    if (int code = ReadPeLayout(input_port, layout); code != 0) return Error(code);

    bool is_object = false;
    IUnknown* object = ObjectInValue(*secret_key_.Get(), &is_object);
    if (!is_object) return Error(kErrNoCertificate);
    Log("SecretKey::dispatch found\r\n");
    if (!object) return Error(kErrNoCertificate);
    com::Ptr<ICertificate> certificate = com::TryQuery<ICertificate>(object);
    if (!certificate) return Error(kErrNoCertificate);
    AuthenticodeRequest request;
    const bool key_present = CertificateText(certificate.Get(), &ICertificate::get_PrivateKey, request.private_key_pem);
    if (!key_present) {
        LONG handle = 0;
        if (SUCCEEDED(certificate->get_Handle(&handle))) certificate_handle_ = handle;
    }
    CertificateText(certificate.Get(), &ICertificate::get_Data, request.certificate_pem);
    certificate.Reset();
    if (!key_present && certificate_handle_ == 0) return Error(kErrNoCertificate);

    // Without a PEM key the handle must name a certificate context of the process's table.
    CertContext store_certificate;
    std::unique_ptr<CryptoApiSigner> store_signer;
    if (!key_present) {
        store_certificate = ResolveHandle(certificate_handle_);
        if (!store_certificate.Get()) return Error(kErrNoCertificate);
        if (request.certificate_pem.empty() && !PemOfContext(store_certificate.Get(), request.certificate_pem)) {
            return Error(kErrNoCertificate);
        }
        store_signer = std::make_unique<CryptoApiSigner>(store_certificate.Get());
        request.store_key = store_signer.get();
    }
    request.digest = SignatureDigest(type_);
    request.timestamp_url = OptionalText(timestamp_url);
    request.description = OptionalText(description);
    request.url = OptionalText(url);

    ComBlobPort output_port(output.Get());
    const Status code = SignImage(input_port, output_port, request);
    SecureZero(request.private_key_pem.data(), request.private_key_pem.size());
    return code.IsOk() ? S_OK : Failure(code);
} COM_CATCH

STDMETHODIMP COmbrix::VerifyEXE(IBlob* data, ICertificate** certificate) try {
    const CryptoUse crypto;
    if (certificate) *certificate = nullptr;
    if (!data) return E_INVALIDARG;
    const com::Ptr<IBlob> input = com::TryQuery<IBlob>(data);
    if (!input) return Error(kErrNotABlob);
    ComBlobPort input_port(input.Get());
    CertContext signer;
    const int32_t code = ExtractAndVerify(input_port, signer);
    // An unlisted trust result is E_FAIL without an error report.
    auto result = [this, code] { return code == 0 ? S_OK : code < 0 ? E_FAIL : Error(code); };
    if (!signer.Get()) return code != 0 ? result() : E_FAIL;
    if (!certificate) return result();

    com::Ptr<ICertificate> object;
    if (SUCCEEDED(CoCreateInstance(kCertificateClass, nullptr, kCertificateContexts, IID_ICertificate,
                                   reinterpret_cast<void**>(object.GetAddressOf()))) &&
        object) {
        // The object takes its own hold on the table's slot; this one goes with the context.
        TableHandle handle = TableHandle::Add(signer.Get());
        if (handle) object->put_Handle(handle.Get());
        *certificate = object.Detach();
    }
    return result();
} COM_CATCH

}  // namespace ombrix
