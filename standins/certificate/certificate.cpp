#include "certificate.h"

#include <oleauto.h>
#include <wincrypt.h>

#include <new>
#include <string>
#include <vector>

namespace certstandin {
namespace {

// Fails with `hr`, leaving error information with the class's ProgID as source.
HRESULT Report(HRESULT hr, const wchar_t* description) {
    com::SetErrorReport(IID_ICertificate, CCertificate::kProgId, description);
    return hr;
}

HRESULT LastErrorOr(HRESULT fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : fallback;
}

// Decodes the first PEM block of `pem` and creates a certificate context from it.
HRESULT ContextFromPem(BSTR pem, CertContext& context) {
    try {
        const int wide_length = static_cast<int>(SysStringLen(pem));
        const int length = WideCharToMultiByte(CP_UTF8, 0, pem, wide_length, nullptr, 0, nullptr, nullptr);
        if (length <= 0) return E_INVALIDARG;
        std::string text(static_cast<size_t>(length), '\0');
        WideCharToMultiByte(CP_UTF8, 0, pem, wide_length, text.data(), length, nullptr, nullptr);

        DWORD size = 0;
        if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                  &size, nullptr, nullptr)) {
            return LastErrorOr(CRYPT_E_ASN1_BADTAG);
        }
        std::vector<BYTE> der(size);
        if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                  &size, nullptr, nullptr)) {
            return LastErrorOr(CRYPT_E_ASN1_BADTAG);
        }
        context.Reset(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), size));
        return context.Get() ? S_OK : LastErrorOr(CRYPT_E_ASN1_BADTAG);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// The certificate of `context` as PEM text.
HRESULT PemFromContext(PCCERT_CONTEXT context, com::Bstr& pem) {
    DWORD chars = 0;
    if (!CryptBinaryToStringW(context->pbCertEncoded, context->cbCertEncoded, CRYPT_STRING_BASE64HEADER, nullptr,
                              &chars)) {
        return LastErrorOr(E_FAIL);
    }
    // `chars` counts the terminating zero; SysAllocStringLen adds its own.
    com::Bstr text(nullptr, chars);
    if (!text.Get()) return E_OUTOFMEMORY;
    if (!CryptBinaryToStringW(context->pbCertEncoded, context->cbCertEncoded, CRYPT_STRING_BASE64HEADER, text.Get(),
                              &chars)) {
        return LastErrorOr(E_FAIL);
    }
    pem = com::Bstr(text.Get(), chars);
    return pem.Get() ? S_OK : E_OUTOFMEMORY;
}

HRESULT CopyOut(const com::Bstr& source, BSTR* value) {
    *value = nullptr;
    if (!source.Get()) return S_OK;
    *value = com::Bstr::Copy(source.Get()).Detach();
    return *value ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

HRESULT CCertificate::NotImplemented() const {
    return Report(E_NOTIMPL, L"Not implemented by this certificate component.");
}

void CCertificate::ClearCertificate() {
    data_.Reset();
    handle_.Reset();
    foreign_handle_ = 0;
}

// A failing get tells the control that there is no private key, so that it falls back to Handle.
STDMETHODIMP CCertificate::get_PrivateKey(BSTR* value) try {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (private_key_.Empty()) return Report(E_FAIL, L"No private key.");
    return CopyOut(private_key_, value);
} COM_CATCH

// Stored as given; an empty text removes the key.
STDMETHODIMP CCertificate::put_PrivateKey(BSTR value) try {
    if (SysStringLen(value) == 0) {
        private_key_.Reset();
        return S_OK;
    }
    com::Bstr copy = com::Bstr::Copy(value);
    if (!copy.Get()) return E_OUTOFMEMORY;
    private_key_ = std::move(copy);
    return S_OK;
} COM_CATCH

STDMETHODIMP CCertificate::get_HasPrivateKey(VARIANT_BOOL* value) try {
    if (!value) return E_POINTER;
    *value = private_key_.Empty() ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
} COM_CATCH

// The certificate as PEM text; empty when there is none (or only a handle from elsewhere).
STDMETHODIMP CCertificate::get_Data(BSTR* value) try {
    if (!value) return E_POINTER;
    return CopyOut(data_, value);
} COM_CATCH

// Takes a PEM certificate and creates its context; text that holds no certificate is refused
// and the object keeps what it had. An empty text removes the certificate.
STDMETHODIMP CCertificate::put_Data(BSTR value) try {
    if (SysStringLen(value) == 0) {
        ClearCertificate();
        return S_OK;
    }
    CertContext context;
    const HRESULT hr = ContextFromPem(value, context);
    if (FAILED(hr)) return Report(hr, L"The text holds no PEM certificate.");
    com::Bstr copy = com::Bstr::Copy(value);
    if (!copy.Get()) return E_OUTOFMEMORY;
    TableHandle handle = TableHandle::Add(context.Get());
    if (!handle) return E_OUTOFMEMORY;
    ClearCertificate();
    data_ = std::move(copy);
    handle_ = std::move(handle);
    return S_OK;
} COM_CATCH

STDMETHODIMP CCertificate::get_Text(BSTR* value) try { return get_Data(value); } COM_CATCH
STDMETHODIMP CCertificate::put_Text(BSTR value) try { return put_Data(value); } COM_CATCH

// The index of the certificate's context in this DLL's table, or the handle put from elsewhere.
STDMETHODIMP CCertificate::get_Handle(LONG* value) try {
    if (!value) return E_POINTER;
    *value = handle_ ? handle_.Get() : foreign_handle_;
    return *value != 0 ? S_OK : Report(E_FAIL, L"No certificate.");
} COM_CATCH

// A handle of this DLL's table makes the object hold that certificate too (Data becomes its
// PEM text), so the context outlives whoever put it. Any other non-zero value is kept as given,
// without a certificate. Zero removes the certificate.
STDMETHODIMP CCertificate::put_Handle(LONG value) try {
    if (value == 0) {
        ClearCertificate();
        return S_OK;
    }
    TableHandle shared = TableHandle::Share(value);
    if (!shared) {
        ClearCertificate();
        foreign_handle_ = value;
        return S_OK;
    }
    const CertContext context = ResolveHandle(value);
    com::Bstr pem;
    const HRESULT hr = context.Get() ? PemFromContext(context.Get(), pem) : E_FAIL;
    if (FAILED(hr)) return Report(hr, L"The certificate cannot be encoded.");
    ClearCertificate();
    data_ = std::move(pem);
    handle_ = std::move(shared);
    return S_OK;
} COM_CATCH

}  // namespace certstandin
