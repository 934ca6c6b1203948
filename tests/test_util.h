// Helpers shared by the test programs.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/holders.h"
#include "com/object.h"
#include "base/error_codes.h"
#include "com/error_report.h"

namespace test {

using Microsoft::WRL::ComPtr;

// A new object of class T (from the module's own class framework) through interface I.
template <class T, class I>
ComPtr<I> Create() {
    com::ComObject<T>* object = nullptr;
    EXPECT_EQ(com::ComObject<T>::CreateInstance(&object), S_OK);
    ComPtr<I> result;
    if (object) {
        EXPECT_EQ(object->QueryInterface(__uuidof(I), &result), S_OK);
        object->Release();
    }
    return result;
}

// A COM object on the test's stack answering one dual interface besides IUnknown and IDispatch
// (whose own members answer E_NOTIMPL), counting its references so that the tests see every one
// released.
template <class Interface>
class Fake : public Interface {
public:
    explicit Fake(const IID& iid) : iid_(iid) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** result) override {
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) && !IsEqualIID(riid, iid_)) return E_NOINTERFACE;
        *result = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    ULONG refs = 0;

private:
    IID iid_;
};

// The bytes of a byte array a blob handed out (which it takes over); the array counts from 1, as
// script clients index it.
inline std::string TakeArray(SAFEARRAY* raw) {
    com::SafeArray array(raw);
    LONG lower = -1;
    EXPECT_EQ(SafeArrayGetLBound(raw, 1, &lower), S_OK);
    EXPECT_EQ(lower, 1);
    com::SafeArrayAccess access(raw);
    return std::string(reinterpret_cast<const char*>(access.Data()), com::SafeArrayCount(raw));
}

// The thread's current error information as (description, source, guid).
struct ErrorInfoFields {
    std::wstring description;
    std::wstring source;
    GUID guid{};
    bool present = false;
};

inline ErrorInfoFields TakeErrorInfo() {
    ErrorInfoFields fields;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return fields;
    fields.present = true;
    com::Bstr description, source;
    info->GetDescription(description.Put());
    info->GetSource(source.Put());
    info->GetGUID(&fields.guid);
    if (description.Get()) fields.description = description.Get();
    if (source.Get()) fields.source = source.Get();
    return fields;
}

// A call that reported error `code`: its HRESULT, and error information with the table's
// message and the raising class's ProgID.
inline void ExpectErrorReport(HRESULT hr, int32_t code, const wchar_t* source) {
    EXPECT_EQ(hr, com::ErrorHResult(code));
    const ErrorInfoFields info = TakeErrorInfo();
    EXPECT_TRUE(info.present);
    EXPECT_EQ(info.source, source);
    const std::string message = com::ErrorMessage(code);
    EXPECT_EQ(info.description, std::wstring(message.begin(), message.end()));
}

// A fresh path in the temporary directory (the file does not exist).
inline std::wstring TempPath(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name;
    DeleteFileW(path.c_str());
    return path;
}

inline std::string ReadFileBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

}  // namespace test
