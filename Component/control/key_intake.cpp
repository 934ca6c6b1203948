#include "control/key_intake.h"

#include <climits>
#include <cwchar>

#include <wrl/client.h>

#include "com/Ombrix.h"
#include "com/holders.h"
#include "control/debug_log.h"
#include "crypto/private_key.h"
#include "crypto/secure_bytes.h"

namespace ombrix {

// The external key object: only three of its methods are called, by vtable slot (counted from
// 0 with IUnknown's 3 and IDispatch's 4): 13 gives a text, 19 and 21 byte arrays, each for a
// selector 0 or 1.
// {9DEAF8CA-C0BC-410E-879F-D164112574D0}
constexpr IID kIidExternalKey = {0x9deaf8ca, 0xc0bc, 0x410e, {0x87, 0x9f, 0xd1, 0x64, 0x11, 0x25, 0x74, 0xd0}};

// Outside the anonymous namespace on purpose: the objects come from other modules, and the
// compiler must not assume that this translation unit sees every class implementing it.
struct ExternalKeyObject : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Slot7() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot8() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot9() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot10() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot11() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot12() = 0;
    virtual HRESULT STDMETHODCALLTYPE Text(LONG selector, BSTR* text) = 0;  // slot 13
    virtual HRESULT STDMETHODCALLTYPE Slot14() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot15() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot16() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot17() = 0;
    virtual HRESULT STDMETHODCALLTYPE Slot18() = 0;
    virtual HRESULT STDMETHODCALLTYPE KeyBytes(LONG selector, SAFEARRAY** bytes) = 0;  // slot 19
    virtual HRESULT STDMETHODCALLTYPE Slot20() = 0;
    virtual HRESULT STDMETHODCALLTYPE OtherKeyBytes(LONG selector, SAFEARRAY** bytes) = 0;  // slot 21
};

namespace {

using Microsoft::WRL::ComPtr;

void Log(BSTR debug_file, const char* property, const char* form) {
    if (debug_file && *debug_file) DebugLogWrite(debug_file, "%s::%s found\r\n", property, form);
}

// Appends the text converted to the system's ANSI code page: all converted bytes, or at most one
// byte per character (`cut`), as the key forms take it. The conversion is wiped afterwards.
void AppendAnsi(const wchar_t* text, uint32_t length, bool cut, Buffer& out) {
    if (!text || length == 0 || length > INT_MAX) return;
    const int count = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    SecureBytes narrow;
    if (count <= 0 || !narrow.Allocate(static_cast<size_t>(count))) return;
    const int written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), reinterpret_cast<char*>(narrow.Data()), count,
                                            nullptr, nullptr);
    if (written <= 0) return;
    uint32_t take = static_cast<uint32_t>(written);
    if (cut && take > length) take = length;
    out.Append(narrow.Data(), take);
}

// The bytes from the array's lower to its upper bound, taken from the start of its data.
void AppendArray(SAFEARRAY* array, Buffer& out) {
    const uint32_t count = com::SafeArrayCount(array);
    if (count == 0) return;
    com::SafeArrayAccess access(array);
    if (access.Ok()) out.Append(access.Data(), count);
}

// The whole content of a blob, which is left at its end.
void AppendBlob(IBlob* blob, Buffer& out) {
    LONG end = 0;
    if (FAILED(blob->Seek(0, 2, &end)) || FAILED(blob->Seek(0, 0, nullptr)) || end <= 0) return;
    SAFEARRAY* raw = nullptr;
    const HRESULT hr = blob->Read(end, &raw);
    com::SafeArray array(raw);
    if (SUCCEEDED(hr) && array.Get() && SafeArrayGetElemsize(array.Get()) == 1) AppendArray(array.Get(), out);
    if (array.Get()) {
        com::SafeArrayAccess access(array.Get());
        if (access.Ok()) SecureZero(const_cast<uint8_t*>(access.Data()), com::SafeArrayCount(array.Get()));
    }
}

// A byte array from the external key object: slot 19 then 21, selector 0 then 1.
void AppendExternalKey(ExternalKeyObject* key, Buffer& out) {
    for (auto method : {&ExternalKeyObject::KeyBytes, &ExternalKeyObject::OtherKeyBytes}) {
        for (LONG selector : {0, 1}) {
            SAFEARRAY* raw = nullptr;
            const HRESULT hr = (key->*method)(selector, &raw);
            com::SafeArray array(raw);
            if (FAILED(hr)) continue;
            if (array.Get()) AppendArray(array.Get(), out);
            return;
        }
    }
}

// The object behind a VARIANT of an object form, or null.
IUnknown* ObjectOf(const VARIANT& value) {
    const VARTYPE vt = V_VT(&value);
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) return V_UNKNOWN(&value);
    if (vt == (VT_DISPATCH | VT_BYREF) || vt == (VT_UNKNOWN | VT_BYREF)) return V_UNKNOWNREF(&value) ? *V_UNKNOWNREF(&value) : nullptr;
    return nullptr;
}

// The text, text-by-reference and array forms shared by both properties. True when the value
// had one of them.
bool AppendPlainForm(const VARIANT& value, BSTR debug_file, const char* property, Buffer& out) {
    const VARTYPE vt = V_VT(&value);
    if (vt == VT_BSTR) {
        Log(debug_file, property, "string");
        AppendAnsi(V_BSTR(&value), SysStringLen(V_BSTR(&value)), true, out);
        return true;
    }
    if (vt == (VT_BSTR | VT_BYREF)) {
        Log(debug_file, property, "string byref");
        const BSTR text = V_BSTRREF(&value) ? *V_BSTRREF(&value) : nullptr;
        if (text) AppendAnsi(text, static_cast<uint32_t>(wcsnlen(text, SysStringLen(text))), true, out);
        return true;
    }
    if (vt & VT_ARRAY) {
        Log(debug_file, property, "array");
        SAFEARRAY* array = (vt & VT_BYREF) ? (V_ARRAYREF(&value) ? *V_ARRAYREF(&value) : nullptr) : V_ARRAY(&value);
        if (array) AppendArray(array, out);
        return true;
    }
    return false;
}

}  // namespace

void DeriveSecretKey(const VARIANT& value, BSTR debug_file, Buffer& key_bytes, int32_t* certificate_handle) {
    if (AppendPlainForm(value, debug_file, "SecretKey", key_bytes)) return;
    const VARTYPE base = V_VT(&value) & ~VT_BYREF;
    if (base != VT_DISPATCH && base != VT_UNKNOWN) return;
    Log(debug_file, "SecretKey", "dispatch");
    IUnknown* object = ObjectOf(value);
    if (!object) return;

    ComPtr<IBlob> blob;
    ComPtr<ExternalKeyObject> key;
    ComPtr<ICertificate> certificate;
    if (SUCCEEDED(object->QueryInterface(IID_IBlob, reinterpret_cast<void**>(blob.GetAddressOf()))) && blob) {
        AppendBlob(blob.Get(), key_bytes);
    } else if (SUCCEEDED(object->QueryInterface(kIidExternalKey, reinterpret_cast<void**>(key.GetAddressOf()))) && key) {
        AppendExternalKey(key.Get(), key_bytes);
    } else if (SUCCEEDED(object->QueryInterface(IID_ICertificate, reinterpret_cast<void**>(certificate.GetAddressOf()))) &&
               certificate) {
        com::Bstr pem;
        if (SUCCEEDED(certificate->get_PrivateKey(pem.Put()))) {
            Buffer narrow;
            AppendAnsi(pem.Get(), SysStringLen(pem.Get()), false, narrow);
            ImportPemPrivateKey(reinterpret_cast<const char*>(narrow.Data()), narrow.Length(), key_bytes);
            SecureZero(narrow.Data(), narrow.Length());
            if (pem.Get()) SecureZero(pem.Get(), SysStringByteLen(pem.Get()));
        } else {
            LONG handle = 0;
            if (SUCCEEDED(certificate->get_Handle(&handle)) && certificate_handle) *certificate_handle = handle;
        }
    }
}

void DeriveInitVector(const VARIANT& value, BSTR debug_file, Buffer& iv_bytes) {
    if (AppendPlainForm(value, debug_file, "InitVector", iv_bytes)) return;
    const VARTYPE base = V_VT(&value) & ~VT_BYREF;
    if (base != VT_DISPATCH && base != VT_UNKNOWN) return;
    Log(debug_file, "InitVector", "dispatch");
    IUnknown* object = ObjectOf(value);
    if (!object) return;

    ComPtr<IBlob> blob;
    ComPtr<ExternalKeyObject> key;
    if (SUCCEEDED(object->QueryInterface(IID_IBlob, reinterpret_cast<void**>(blob.GetAddressOf()))) && blob) {
        AppendBlob(blob.Get(), iv_bytes);
    } else if (SUCCEEDED(object->QueryInterface(kIidExternalKey, reinterpret_cast<void**>(key.GetAddressOf()))) && key) {
        for (LONG selector : {0, 1}) {
            com::Bstr text;
            if (FAILED(key->Text(selector, text.Put()))) continue;
            AppendAnsi(text.Get(), SysStringLen(text.Get()), false, iv_bytes);
            break;
        }
    }
}

}  // namespace ombrix
