// RAII holders for the OLE Automation types and device contexts, and the early-return helper
// used by COM methods. Handles are held by ombrix::Unique (base/unique.h).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstring>
#include <utility>

#include "base/unique.h"

#define RETURN_IF_FAILED(expr)                      \
    do {                                            \
        const HRESULT hr_checked_ = (expr);         \
        if (FAILED(hr_checked_)) return hr_checked_; \
    } while (0)

namespace com {

// Owns one BSTR (possibly null).
class Bstr : public ombrix::Unique<BSTR, ombrix::NullOrClose<BSTR, &SysFreeString>> {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* text) : Unique(text ? SysAllocString(text) : nullptr) {}
    Bstr(const wchar_t* text, UINT length) : Unique(SysAllocStringLen(text, length)) {}

    // Copies a BSTR by its full length (embedded zero characters kept); null stays null.
    static Bstr Copy(BSTR source) { return source ? Bstr(source, SysStringLen(source)) : Bstr(); }
    // Hands a copy out through `destination`, null for null.
    HRESULT CopyTo(BSTR* destination) const {
        if (!destination) return E_POINTER;
        *destination = Copy(Get()).Detach();
        return *destination || !Get() ? S_OK : E_OUTOFMEMORY;
    }

    UINT Length() const { return Get() ? SysStringLen(Get()) : 0; }
    bool Empty() const { return Length() == 0; }
};

inline VARIANT_BOOL ToVariantBool(bool flag) { return flag ? VARIANT_TRUE : VARIANT_FALSE; }

// Sets an out parameter: E_POINTER when it is null, else `result`.
template <class T, class V>
HRESULT SetOut(T* out, const V& value, HRESULT result = S_OK) {
    if (!out) return E_POINTER;
    *out = static_cast<T>(value);
    return result;
}

// Owns one VARIANT, cleared on destruction.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&value_); }

    VARIANT* Get() { return &value_; }
    const VARIANT* Get() const { return &value_; }
    VARIANT* Put() { VariantClear(&value_); return &value_; }
    // Replaces the value with a copy of what `source` holds, references resolved (VariantCopyInd):
    // the copy never points into the source's storage. A value that cannot be copied, or whose
    // copy VariantCopy would refuse (an array of VT_EMPTY elements, say), leaves it empty, so that
    // a get can always hand it back. Texts and byte arrays (keys) are always copyable and are not
    // copied again: no unwiped copy of a key is made.
    HRESULT CopyValueOf(const VARIANT& source) {
        VariantClear(&value_);
        HRESULT hr = VariantCopyInd(&value_, const_cast<VARIANT*>(&source));
        if (SUCCEEDED(hr) && V_VT(&value_) != VT_BSTR && V_VT(&value_) != (VT_ARRAY | VT_UI1)) {
            Variant trial;
            hr = CopyTo(trial.Get());
            if (FAILED(hr)) VariantClear(&value_);
        }
        if (FAILED(hr)) VariantInit(&value_);
        return hr;
    }
    HRESULT CopyTo(VARIANT* destination) const {
        VariantInit(destination);
        return VariantCopy(destination, const_cast<VARIANT*>(&value_));
    }
    void Clear() { VariantClear(&value_); }

private:
    VARIANT value_;
};

// Owns one SAFEARRAY.
class SafeArray : public ombrix::Unique<SAFEARRAY*, ombrix::NullOrClose<SAFEARRAY*, &SafeArrayDestroy>> {
public:
    using Unique::Unique;
    // A one-dimensional byte array with lower bound 1, the form blobs hand out.
    static SafeArray Bytes(const void* data, uint32_t count);
};

inline SafeArray SafeArray::Bytes(const void* data, uint32_t count) {
    SAFEARRAYBOUND bound{count, 1};
    SafeArray array(SafeArrayCreate(VT_UI1, 1, &bound));
    if (array.Get() && count != 0) {
        void* elements = nullptr;
        if (SUCCEEDED(SafeArrayAccessData(array.Get(), &elements))) {
            memcpy(elements, data, count);
            SafeArrayUnaccessData(array.Get());
        } else {
            array.Reset();
        }
    }
    return array;
}

// Holds a SAFEARRAY's element data locked for the holder's lifetime.
class SafeArrayAccess {
public:
    explicit SafeArrayAccess(SAFEARRAY* array) : array_(array) {
        if (array_ && FAILED(SafeArrayAccessData(array_, &data_))) data_ = nullptr;
    }
    SafeArrayAccess(const SafeArrayAccess&) = delete;
    SafeArrayAccess& operator=(const SafeArrayAccess&) = delete;
    ~SafeArrayAccess() { if (data_) SafeArrayUnaccessData(array_); }
    const uint8_t* Data() const { return static_cast<const uint8_t*>(data_); }
    uint8_t* Data() { return static_cast<uint8_t*>(data_); }
    bool Ok() const { return data_ != nullptr; }

private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

// Keeps a GDI object selected into a device context, restoring the previous one on destruction.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() { if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_); }
    bool Ok() const { return previous_ && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// A window's device context (the screen's for a null window), released on destruction.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() { if (dc_) ReleaseDC(window_, dc_); }
    HDC Get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Element count of a one-dimensional array over its first dimension (upper - lower + 1).
inline uint32_t SafeArrayCount(SAFEARRAY* array) {
    if (!array || array->cDims == 0) return 0;
    LONG lower = 0, upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return 0;
    if (upper < lower) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(upper) - lower + 1);
}

}  // namespace com
