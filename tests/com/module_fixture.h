// The built Ombrix.dll loaded as a client loads it, with its four entry points.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace test {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using PlainFn = HRESULT(WINAPI*)();

template <class Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class LoadedModule : public testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA(OMBRIX_DLL_PATH);
        ASSERT_NE(module_, nullptr) << OMBRIX_DLL_PATH;
        get_class_object_ = Export<GetClassObjectFn>(module_, "DllGetClassObject");
        can_unload_ = Export<PlainFn>(module_, "DllCanUnloadNow");
        register_ = Export<PlainFn>(module_, "DllRegisterServer");
        unregister_ = Export<PlainFn>(module_, "DllUnregisterServer");
        ASSERT_TRUE(get_class_object_ && can_unload_ && register_ && unregister_);
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(module_, path, MAX_PATH);
        path_ = path;
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    HMODULE module_ = nullptr;
    GetClassObjectFn get_class_object_ = nullptr;
    PlainFn can_unload_ = nullptr, register_ = nullptr, unregister_ = nullptr;
    std::wstring path_;
};

// The six classes of the object map, in its order.
struct ClassRow {
    const CLSID* clsid;
    const wchar_t* prog_id;
    const wchar_t* version_independent;
    const wchar_t* description;
    const wchar_t* threading;
};

}  // namespace test
