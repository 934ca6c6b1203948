#include "com/module.h"

#include <oleauto.h>

#include <atomic>
#include <string>
#include <vector>

#include "com/Ombrix.h"
#include "com/holders.h"
#include "com/object.h"
#include "com/registrar.h"

namespace com {
namespace {

std::atomic<long> g_lock_count{0};
// The part of the lock count taken through IClassFactory::LockServer.
std::atomic<long> g_server_locks{0};
HMODULE g_module = nullptr;
wchar_t g_module_path[MAX_PATH + 1];

// Class objects are created once, on first request, under this lock.
SRWLOCK g_class_objects_lock = SRWLOCK_INIT;
std::vector<Ptr<IClassFactory>> g_class_objects;

// Type information per interface GUID, loaded once from the type library.
SRWLOCK g_type_info_lock = SRWLOCK_INIT;
Ptr<ITypeLib> g_type_library;
struct CachedTypeInfo {
    GUID guid;
    Ptr<ITypeInfo> info;
};
std::vector<CachedTypeInfo> g_type_infos;

// The class object every class of the map uses: creates objects through the map's function.
// The module's cache holds the first reference; references beyond it hold the module's lock.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** result) override try {
        if (!result) return E_POINTER;
        *result = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *result = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    } COM_CATCH
    STDMETHODIMP_(ULONG) AddRef() override {
        const LONG refs = InterlockedIncrement(&refs_);
        if (refs == 2) ModuleLock();
        return refs;
    }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 1) ModuleUnlock();
        if (refs == 0) delete this;
        return refs;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** result) override try {
        return create_(outer, riid, result);
    } COM_CATCH
    // An unlock without a matching lock is refused: it would release a lock held by a live
    // object and let the module unload under it.
    STDMETHODIMP LockServer(BOOL lock) override try {
        if (lock) {
            ++g_server_locks;
            ModuleLock();
            return S_OK;
        }
        long held = g_server_locks.load();
        do {
            if (held <= 0) return E_UNEXPECTED;
        } while (!g_server_locks.compare_exchange_weak(held, held - 1));
        ModuleUnlock();
        return S_OK;
    } COM_CATCH

private:
    CreateFunction create_;
    LONG refs_ = 1;
};

HRESULT LoadTypeLibrary(ITypeLib** library) {
    if (SUCCEEDED(LoadRegTypeLib(LIBID_OMBRIXLib, 1, 0, LOCALE_NEUTRAL, library))) return S_OK;
    // Not registered (yet): the module carries the library as its resource TYPELIB 1.
    return LoadTypeLibEx(ModulePath(), REGKIND_NONE, library);
}

// Whether version 1.0 of the type library has a registration key.
bool TypeLibraryRegistered() {
    wchar_t libid[40];
    if (!StringFromGUID2(LIBID_OMBRIXLib, libid, 40)) return false;
    const std::wstring key = std::wstring(L"TypeLib\\") + libid + L"\\1.0";
    RegistryKey opened;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, opened.Put()) == ERROR_SUCCESS;
}

}  // namespace

void ModuleLock() { ++g_lock_count; }
void ModuleUnlock() { --g_lock_count; }
long ModuleLockCount() { return g_lock_count.load(); }

HMODULE ModuleHandle() {
    if (!g_module) {
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&ModuleHandle), &g_module);
    }
    return g_module;
}

const wchar_t* ModulePath() {
    if (!g_module_path[0]) GetModuleFileNameW(ModuleHandle(), g_module_path, MAX_PATH);
    return g_module_path;
}

HRESULT GetTypeInfo(REFGUID guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    AcquireSRWLockExclusive(&g_type_info_lock);
    HRESULT hr = S_OK;
    Ptr<ITypeInfo> found;
    for (const auto& cached : g_type_infos) {
        if (IsEqualGUID(cached.guid, guid)) {
            found = cached.info;
            break;
        }
    }
    if (!found) {
        if (!g_type_library) hr = LoadTypeLibrary(g_type_library.GetAddressOf());
        if (SUCCEEDED(hr)) hr = g_type_library->GetTypeInfoOfGuid(guid, found.GetAddressOf());
        if (SUCCEEDED(hr)) {
            try {
                g_type_infos.push_back({guid, found});
            } catch (const std::bad_alloc&) {
                found.Reset();
                hr = E_OUTOFMEMORY;
            }
        }
    }
    *info = found.Detach();
    ReleaseSRWLockExclusive(&g_type_info_lock);
    return hr;
}

void ModuleAttach(HMODULE module) {
    g_module = module;
    ModulePath();
}

void ModuleDetach(bool process_terminating) {
    if (process_terminating) {
        // At process exit other modules may already be gone: leave their objects alone, also
        // when the holders are destroyed.
        for (auto& factory : g_class_objects) factory.Detach();
        for (auto& cached : g_type_infos) cached.info.Detach();
        g_type_library.Detach();
        return;
    }
    for (auto& factory : g_class_objects) factory.Reset();
    g_type_infos.clear();
    g_type_library.Reset();
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    const auto map = ObjectMap();
    for (size_t i = 0; i < map.size(); ++i) {
        if (!IsEqualCLSID(clsid, *map[i].clsid)) continue;
        AcquireSRWLockExclusive(&g_class_objects_lock);
        HRESULT hr = S_OK;
        try {
            if (g_class_objects.size() != map.size()) g_class_objects.resize(map.size());
            // The factory's first reference goes to the cache.
            if (!g_class_objects[i]) *g_class_objects[i].GetAddressOf() = new ClassFactory(map[i].create);
        } catch (const std::bad_alloc&) {
            hr = E_OUTOFMEMORY;
        }
        IClassFactory* factory = SUCCEEDED(hr) ? g_class_objects[i].Get() : nullptr;
        ReleaseSRWLockExclusive(&g_class_objects_lock);
        return factory ? factory->QueryInterface(riid, result) : hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT RegisterServer() {
    for (const auto& entry : ObjectMap()) RETURN_IF_FAILED(ApplyRegistryScript(entry.registry_script, true));
    Ptr<ITypeLib> library;
    RETURN_IF_FAILED(LoadTypeLibEx(ModulePath(), REGKIND_NONE, library.GetAddressOf()));
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(ModulePath()), nullptr);
}

// Every class and the type library are tried even after a failure, so that one damaged entry
// does not leave the others registered; the first failure is returned.
HRESULT UnregisterServer() {
    HRESULT first_failure = S_OK;
    for (const auto& entry : ObjectMap()) {
        const HRESULT hr = ApplyRegistryScript(entry.registry_script, false);
        if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
    }
    // A library that is already gone is not a failure of unregistration.
    if (TypeLibraryRegistered()) {
        const HRESULT hr = UnRegisterTypeLib(LIBID_OMBRIXLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
        if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
    }
    return first_failure;
}

}  // namespace com
