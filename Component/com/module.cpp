#include "com/module.h"

#include <oleauto.h>

#include <atomic>
#include <string>
#include <vector>

#include "com/holders.h"
#include "com/object.h"
#include "com/ptr.h"
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

// The module's classes and type library, as described at attach.
const ModuleDescription* g_description = nullptr;

// Type information per interface, indexed by the slot each interface takes on first use, and the
// type library it comes from: filled once, read without a lock.
constexpr int kTypeInfoSlots = 32;
std::atomic<ITypeInfo*> g_type_infos[kTypeInfoSlots];
std::atomic<int> g_type_info_slots_taken{0};
std::atomic<ITypeLib*> g_type_library{nullptr};

// Publishes `loaded` in `slot` unless another thread was first: the one that stays.
template <class T>
T* Publish(std::atomic<T*>& slot, T* loaded) {
    T* expected = nullptr;
    if (slot.compare_exchange_strong(expected, loaded, std::memory_order_acq_rel)) return loaded;
    loaded->Release();
    return expected;
}

std::span<const ClassEntry> Classes() { return g_description ? g_description->classes : std::span<const ClassEntry>(); }

// Registers or unregisters one class through its script template.
HRESULT ApplyClassScript(const ClassEntry& entry, bool do_register) {
    wchar_t clsid[40] = L"";
    wchar_t libid[40] = L"";
    if (!StringFromGUID2(*entry.clsid, clsid, 40)) return E_UNEXPECTED;
    if (g_description && g_description->type_library) StringFromGUID2(*g_description->type_library, libid, 40);
    const std::wstring_view prog_id = entry.prog_id;
    const size_t version = prog_id.rfind(L'.');
    const ScriptVariable variables[] = {
        {L"CLSID", clsid},
        {L"PROGID", prog_id},
        {L"VIPROGID", prog_id.substr(0, version == std::wstring_view::npos ? prog_id.size() : version)},
        {L"DESCRIPTION", entry.description},
        {L"LIBID", libid},
    };
    return ApplyRegistryScript(entry.registry_script, do_register, variables);
}

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
    if (g_description && g_description->type_library &&
        SUCCEEDED(LoadRegTypeLib(*g_description->type_library, g_description->type_library_major,
                                 g_description->type_library_minor, LOCALE_NEUTRAL, library))) {
        return S_OK;
    }
    // Not registered (yet): the module carries the library as its resource TYPELIB 1.
    return LoadTypeLibEx(ModulePath(), REGKIND_NONE, library);
}

// The type library, loaded on first use; a load that loses the race to another thread is dropped.
HRESULT TypeLibrary(ITypeLib** library) {
    *library = g_type_library.load(std::memory_order_acquire);
    if (*library) return S_OK;
    ITypeLib* loaded = nullptr;
    RETURN_IF_FAILED(LoadTypeLibrary(&loaded));
    *library = Publish(g_type_library, loaded);
    return S_OK;
}

// Whether the described version of the type library has a registration key.
bool TypeLibraryRegistered() {
    wchar_t libid[40];
    if (!g_description || !g_description->type_library || !StringFromGUID2(*g_description->type_library, libid, 40)) return false;
    wchar_t version[16];
    swprintf(version, 16, L"\\%x.%x", g_description->type_library_major, g_description->type_library_minor);
    const std::wstring key = std::wstring(L"TypeLib\\") + libid + version;
    ombrix::RegistryKey opened;
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

int TakeTypeInfoSlot() {
    const int slot = g_type_info_slots_taken.fetch_add(1);
    return slot < kTypeInfoSlots ? slot : -1;
}

HRESULT GetTypeInfo(int slot, REFGUID guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (slot >= 0) *info = g_type_infos[slot].load(std::memory_order_acquire);
    if (!*info) {
        ITypeLib* library = nullptr;
        RETURN_IF_FAILED(TypeLibrary(&library));
        ITypeInfo* loaded = nullptr;
        RETURN_IF_FAILED(library->GetTypeInfoOfGuid(guid, &loaded));
        if (slot < 0) {
            *info = loaded;  // more interfaces than slots: not cached
            return S_OK;
        }
        *info = Publish(g_type_infos[slot], loaded);
    }
    (*info)->AddRef();
    return S_OK;
}

void DescribeModule(const ModuleDescription& description) { g_description = &description; }

void ModuleAttach(HMODULE module, const ModuleDescription& description) {
    g_module = module;
    ModulePath();
    DescribeModule(description);
}

void ModuleDetach(bool process_terminating) {
    if (process_terminating) {
        // At process exit other modules may already be gone: leave their objects alone, also
        // when the holders are destroyed.
        for (auto& factory : g_class_objects) factory.Detach();
        return;
    }
    for (auto& factory : g_class_objects) factory.Reset();
    for (auto& slot : g_type_infos) {
        if (ITypeInfo* info = slot.exchange(nullptr)) info->Release();
    }
    if (ITypeLib* library = g_type_library.exchange(nullptr)) library->Release();
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** result) {
    if (!result) return E_POINTER;
    *result = nullptr;
    const auto map = Classes();
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
    for (const auto& entry : Classes()) RETURN_IF_FAILED(ApplyClassScript(entry, true));
    if (!g_description || !g_description->type_library) return S_OK;
    Ptr<ITypeLib> library;
    RETURN_IF_FAILED(LoadTypeLibEx(ModulePath(), REGKIND_NONE, library.GetAddressOf()));
    return RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(ModulePath()), nullptr);
}

// Every class and the type library are tried even after a failure, so that one damaged entry
// does not leave the others registered; the first failure is returned.
HRESULT UnregisterServer() {
    HRESULT first_failure = S_OK;
    for (const auto& entry : Classes()) {
        const HRESULT hr = ApplyClassScript(entry, false);
        if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
    }
    // A library that is already gone is not a failure of unregistration.
    if (TypeLibraryRegistered()) {
        const HRESULT hr = UnRegisterTypeLib(*g_description->type_library, g_description->type_library_major,
                                             g_description->type_library_minor, LOCALE_NEUTRAL, SYS_WIN64);
        if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
    }
    return first_failure;
}

}  // namespace com
