// Entry points of the in-process server.
#include <windows.h>

#include "com/module.h"
#include "com/object.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            com::ModuleAttach(instance);
            DisableThreadLibraryCalls(instance);
            break;
        case DLL_PROCESS_DETACH:
            com::ModuleDetach(reserved != nullptr);
            break;
        default:
            break;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** result) {
    return com::GetClassObject(clsid, riid, result);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() { return com::ModuleLockCount() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT WINAPI DllRegisterServer() { return com::RegisterServer(); }

extern "C" HRESULT WINAPI DllUnregisterServer() { return com::UnregisterServer(); }
