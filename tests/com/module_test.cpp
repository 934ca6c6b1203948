// The built Ombrix.dll as a client sees it: exports, class objects, unload rule and
// registration in the registry.
#include <gtest/gtest.h>

#include <string>

#include "com/Ombrix.h"
#include "test_util.h"

using test::ComPtr;

namespace {

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using PlainFn = HRESULT(WINAPI*)();

constexpr wchar_t kControlKey[] = L"CLSID\\{A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}";

std::wstring ReadClassesRoot(const std::wstring& key, const wchar_t* name = nullptr) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return value;
}

bool ClassesRootKeyExists(const std::wstring& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
}

template <class Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Module : public testing::Test {
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

TEST_F(Module, ServesTheControlAndTracksWhetherItCanUnload) {
    EXPECT_EQ(can_unload_(), S_OK);
    EXPECT_EQ(get_class_object_(CLSID_Ombrix, IID_IClassFactory, nullptr), E_POINTER);
    ComPtr<IClassFactory> missing;
    EXPECT_EQ(get_class_object_(IID_IBlob, IID_IClassFactory, &missing), CLASS_E_CLASSNOTAVAILABLE);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(get_class_object_(CLSID_Ombrix, IID_IClassFactory, &factory), S_OK);
    EXPECT_EQ(can_unload_(), S_FALSE);  // an outside reference on the class object
    ComPtr<IOmbrix> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOmbrix, &control), S_OK);
    factory.Reset();
    EXPECT_EQ(can_unload_(), S_FALSE);
    com::Bstr version;
    EXPECT_EQ(control->get_Version(version.Put()), S_OK);
    EXPECT_STREQ(version.Get(), L"2.2.5.115");
    control.Reset();
    EXPECT_EQ(can_unload_(), S_OK);
}

TEST_F(Module, RegistrationWritesTheControlKeysAndUnregistrationRemovesThem) {
    ASSERT_EQ(register_(), S_OK);
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.Ombrix.1"), L"Ombrix Class");
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.Ombrix.1\\CLSID"), L"{A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}");
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.Ombrix\\CLSID"), L"{A80E4BE2-8434-4AFB-8AEC-B4A95812A0FF}");
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.Ombrix\\CurVer"), L"Kestrane.Ombrix.1");
    EXPECT_FALSE(ClassesRootKeyExists(L"Kestrane.Ombrix.1\\CurVer"));
    const std::wstring key = kControlKey;
    EXPECT_EQ(ReadClassesRoot(key), L"Ombrix Class");
    EXPECT_EQ(ReadClassesRoot(key + L"\\ProgID"), L"Kestrane.Ombrix.1");
    EXPECT_EQ(ReadClassesRoot(key + L"\\VersionIndependentProgID"), L"Kestrane.Ombrix");
    EXPECT_TRUE(ClassesRootKeyExists(key + L"\\Programmable"));
    EXPECT_TRUE(ClassesRootKeyExists(key + L"\\Control"));
    EXPECT_TRUE(ClassesRootKeyExists(key + L"\\Insertable"));
    EXPECT_EQ(ReadClassesRoot(key + L"\\InprocServer32"), path_);
    EXPECT_EQ(ReadClassesRoot(key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(ReadClassesRoot(key + L"\\ToolboxBitmap32"), path_ + L", 101");
    EXPECT_EQ(ReadClassesRoot(key + L"\\MiscStatus"), L"0");
    EXPECT_EQ(ReadClassesRoot(key + L"\\MiscStatus\\1"), L"132497");
    EXPECT_EQ(ReadClassesRoot(key + L"\\TypeLib"), L"{5646FC78-16AD-4A1A-AE7D-DAF422E679A6}");
    EXPECT_EQ(ReadClassesRoot(key + L"\\Version"), L"1.0");
    EXPECT_EQ(ReadClassesRoot(L"TypeLib\\{5646FC78-16AD-4A1A-AE7D-DAF422E679A6}\\1.0"),
              L"Kestrane! COM Crypt ActiveX Control");

    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"Kestrane.Ombrix", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Ombrix));

    // The memory blob: both ProgIDs, no CurVer, threading model "both".
    const std::wstring mem_key = L"CLSID\\{43729A60-D552-4493-BD30-D664F7C89AF2}";
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.MemBlob.2"), L"MemBlob Class");
    EXPECT_EQ(ReadClassesRoot(L"Kestrane.MemBlob\\CLSID"), L"{43729A60-D552-4493-BD30-D664F7C89AF2}");
    EXPECT_FALSE(ClassesRootKeyExists(L"Kestrane.MemBlob\\CurVer"));
    EXPECT_EQ(ReadClassesRoot(mem_key), L"MemBlob Class");
    EXPECT_EQ(ReadClassesRoot(mem_key + L"\\ProgID"), L"Kestrane.MemBlob.2");
    EXPECT_EQ(ReadClassesRoot(mem_key + L"\\VersionIndependentProgID"), L"Kestrane.MemBlob");
    EXPECT_EQ(ReadClassesRoot(mem_key + L"\\InprocServer32"), path_);
    EXPECT_EQ(ReadClassesRoot(mem_key + L"\\InprocServer32", L"ThreadingModel"), L"both");
    EXPECT_EQ(CLSIDFromProgID(L"Kestrane.MemBlob.2", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_MemBlob));

    ASSERT_EQ(unregister_(), S_OK);
    EXPECT_FALSE(ClassesRootKeyExists(key));
    EXPECT_FALSE(ClassesRootKeyExists(L"Kestrane.Ombrix.1"));
    EXPECT_FALSE(ClassesRootKeyExists(L"Kestrane.Ombrix"));
    EXPECT_FALSE(ClassesRootKeyExists(mem_key));
    EXPECT_FALSE(ClassesRootKeyExists(L"Kestrane.MemBlob.2"));
    EXPECT_FALSE(ClassesRootKeyExists(L"Kestrane.MemBlob"));
    EXPECT_FALSE(ClassesRootKeyExists(L"TypeLib\\{5646FC78-16AD-4A1A-AE7D-DAF422E679A6}\\1.0"));
    EXPECT_TRUE(ClassesRootKeyExists(L"CLSID"));

    // Leave the prefix registered for the script clients that follow.
    ASSERT_EQ(register_(), S_OK);
    EXPECT_TRUE(ClassesRootKeyExists(key));
}

}  // namespace
