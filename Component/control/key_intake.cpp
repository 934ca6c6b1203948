#include "control/key_intake.h"

#include <cstdint>
#include <cwchar>
#include <string>

#include "com/ptr.h"

#include "text/text_encoding.h"
#include "Ombrix_h.h"
#include "com/holders.h"
#include "control/debug_log.h"
#include "crypto/private_key.h"

namespace ombrix {

// {9DEAF8CA-C0BC-410E-879F-D164112574D0}
constexpr IID kIidExternalKey = {0x9deaf8ca, 0xc0bc, 0x410e, {0x87, 0x9f, 0xd1, 0x64, 0x11, 0x25, 0x74, 0xd0}};

// The external key object, an outside COM object of which only three methods are called, by
// vtable slot (counted from 0, IUnknown's 3 and IDispatch's 4 included): 13 gives a text, 19 and
// 21 byte arrays, each for a selector 0 or 1. Declared outside the anonymous namespace so that
// the compiler cannot conclude that no implementation exists and drop the calls.
struct ExternalKeyObject : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Unused7() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot13Text(LONG selector, BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused17() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused18() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot19Bytes(LONG selector, SAFEARRAY** bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unused20() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot21Bytes(LONG selector, SAFEARRAY** bytes) = 0;
};

namespace {

// Appends `length` characters of text converted to the system's ANSI code page. With `cut`, at
// most `length` bytes are taken (the key text rule: a multi-byte conversion is cut to one byte
// per character); otherwise all converted bytes. The conversion is wiped afterwards.
void AppendAnsi(const wchar_t* text, uint32_t length, bool cut, Buffer& out) {
    std::string narrow;
    if (!NarrowAnsi(text, length, narrow)) return;
    size_t take = narrow.size();
    if (cut && take > length) take = length;
    if (take != 0) out.Append(narrow.data(), static_cast<uint32_t>(take));
    SecureZero(narrow.data(), narrow.size());
}

// Appends at most `limit` bytes of a one-dimensional array of one-byte elements, from its lower
// to its upper bound; with `wipe` (a temporary array received from an outside object) its bytes
// are zeroed afterwards. Arrays of more dimensions or of wider elements (numbers, strings,
// VARIANTs) are refused: their raw storage is no key a caller could have meant.
void AppendArray(SAFEARRAY* array, Buffer& out, uint32_t limit, bool wipe) {
    if (!array || array->cDims != 1 || SafeArrayGetElemsize(array) != 1) return;
    const uint32_t count = com::SafeArrayCount(array);
    if (count == 0) return;
    com::SafeArrayAccess access(array);
    if (!access.Ok()) return;
    out.Append(access.Data(), count < limit ? count : limit);
    if (wipe) SecureZero(const_cast<uint8_t*>(access.Data()), count);
}

void WipeText(BSTR text) {
    if (text) SecureZero(text, SysStringByteLen(text));
}

// The whole content of a blob: seek to the end for the length, back to the start, read it all.
// The blob is left at its end.
void AppendBlob(IBlob* blob, Buffer& out) {
    LONG end = 0, start = 0;
    if (FAILED(blob->Seek(0, 2, &end)) || FAILED(blob->Seek(0, 0, &start)) || end <= 0) return;
    SAFEARRAY* raw = nullptr;
    if (FAILED(blob->Read(end, &raw))) return;
    com::SafeArray array(raw);
    AppendArray(array.Get(), out, static_cast<uint32_t>(end), true);
}

// Slot 19 with selector 0, then 1, then slot 21 with 0, then 1, until one succeeds. A failing
// call's out-pointer is left alone: by COM's rules it holds nothing to free.
void AppendExternalKeyBytes(ExternalKeyObject* key, Buffer& out) {
    for (auto method : {&ExternalKeyObject::Slot19Bytes, &ExternalKeyObject::Slot21Bytes}) {
        for (LONG selector : {0, 1}) {
            SAFEARRAY* raw = nullptr;
            if (FAILED((key->*method)(selector, &raw))) continue;
            com::SafeArray array(raw);
            AppendArray(array.Get(), out, UINT32_MAX, true);
            return;
        }
    }
}

// The text of slot 13 (selector 0, else 1), all of its ANSI conversion.
void AppendExternalKeyText(ExternalKeyObject* key, Buffer& out) {
    for (LONG selector : {0, 1}) {
        BSTR raw = nullptr;
        if (FAILED(key->Slot13Text(selector, &raw))) continue;
        com::Bstr text;
        text.Reset(raw);
        AppendAnsi(text.Get(), text.Length(), false, out);
        WipeText(text.Get());
        return;
    }
}

// The private key of a certificate object, imported from PEM; when it has none, its handle.
void AppendCertificate(ICertificate* certificate, Buffer& out, int32_t* certificate_handle) {
    BSTR raw = nullptr;
    if (SUCCEEDED(certificate->get_PrivateKey(&raw))) {
        com::Bstr pem;
        pem.Reset(raw);
        std::string narrow;
        if (NarrowAnsi(pem.Get(), pem.Length(), narrow)) ImportPemPrivateKey(narrow.data(), narrow.size(), out);
        SecureZero(narrow.data(), narrow.size());
        WipeText(pem.Get());
        return;
    }
    LONG handle = 0;
    if (SUCCEEDED(certificate->get_Handle(&handle)) && certificate_handle) *certificate_handle = handle;
}

// The forms a value can take, in the order they are recognised.
enum class Form { kNone, kText, kTextByReference, kArray, kObject };

Form FormOf(const VARIANT& value) {
    const VARTYPE vt = V_VT(&value);
    if (vt == VT_BSTR) return Form::kText;
    if (vt == (VT_BSTR | VT_BYREF)) return Form::kTextByReference;
    if (vt & VT_ARRAY) return Form::kArray;
    const VARTYPE base = vt & ~VT_BYREF;
    if (base == VT_DISPATCH || base == VT_UNKNOWN) return Form::kObject;
    return Form::kNone;
}

// The object of an object form, a reference followed; null when there is none.
IUnknown* ObjectOf(const VARIANT& value) {
    if (!(V_VT(&value) & VT_BYREF)) return V_UNKNOWN(&value);
    return V_UNKNOWNREF(&value) ? *V_UNKNOWNREF(&value) : nullptr;
}

// The text and array forms, which both properties treat alike.
void AppendPlainForm(const VARIANT& value, Form form, Buffer& out) {
    if (form == Form::kText) {
        const BSTR text = V_BSTR(&value);
        AppendAnsi(text, SysStringLen(text), true, out);
    } else if (form == Form::kTextByReference) {
        // By reference the text ends at its first zero character.
        const BSTR text = V_BSTRREF(&value) ? *V_BSTRREF(&value) : nullptr;
        if (text) AppendAnsi(text, static_cast<uint32_t>(wcsnlen(text, SysStringLen(text))), true, out);
    } else if (form == Form::kArray) {
        SAFEARRAY* array = V_ARRAY(&value);
        if (V_VT(&value) & VT_BYREF) array = V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr;
        AppendArray(array, out, UINT32_MAX, false);  // the caller's own array: not ours to wipe
    }
}

// The bytes of a SecretKey (with `certificate_handle`) or InitVector value, logged as
// "<property>::<form> found". An external key object gives a key its bytes and an IV its text;
// only a key takes a certificate.
void DeriveBytes(const VARIANT& value, BSTR debug_file, const char* property, Buffer& bytes, int32_t* certificate_handle) {
    static constexpr const char* kForms[] = {nullptr, "string", "string byref", "array", "dispatch"};
    const Form form = FormOf(value);
    if (form == Form::kNone) return;
    DebugLogWrite(debug_file, "%s::%s found\r\n", property, kForms[static_cast<int>(form)]);
    if (form != Form::kObject) {
        AppendPlainForm(value, form, bytes);
        return;
    }
    IUnknown* object = ObjectOf(value);
    if (!object) return;
    if (com::Ptr<IBlob> blob = com::TryQuery<IBlob>(object)) {
        AppendBlob(blob.Get(), bytes);
    } else if (com::Ptr<ExternalKeyObject> key = com::TryQuery<ExternalKeyObject>(object, kIidExternalKey)) {
        if (certificate_handle) {
            AppendExternalKeyBytes(key.Get(), bytes);
        } else {
            AppendExternalKeyText(key.Get(), bytes);
        }
    } else if (certificate_handle) {
        if (com::Ptr<ICertificate> certificate = com::TryQuery<ICertificate>(object))
            AppendCertificate(certificate.Get(), bytes, certificate_handle);
    }
}

}  // namespace

IUnknown* ObjectInValue(const VARIANT& value, bool* is_object) {
    *is_object = FormOf(value) == Form::kObject;
    return *is_object ? ObjectOf(value) : nullptr;
}

void DeriveSecretKey(const VARIANT& value, BSTR debug_file, Buffer& key_bytes, int32_t* certificate_handle) {
    DeriveBytes(value, debug_file, "SecretKey", key_bytes, certificate_handle);
}

void DeriveInitVector(const VARIANT& value, BSTR debug_file, Buffer& iv_bytes) {
    DeriveBytes(value, debug_file, "InitVector", iv_bytes, nullptr);
}

}  // namespace ombrix
