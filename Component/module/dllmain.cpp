// Entry points of the in-process server.
#include <windows.h>

#include "binding/fips.h"
#include "codesign/socket.h"
#include "com/module.h"
#include "com/object.h"
#include "codesign/certificate_table.h"
#include "control/ole_control.h"
#include "module/classes.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // The socket layer's lock is statically initialised; binding to the linked crypto
            // library touches no other module.
            com::ModuleAttach(instance, ombrix::kOmbrixModule);
            DisableThreadLibraryCalls(instance);
            ombrix::BindCryptoLibrary(nullptr);
            break;
        case DLL_PROCESS_DETACH:
            // At process exit (reserved set) other modules may already be gone: nothing here may
            // call into them, so only an unload by FreeLibrary releases what the module holds.
            if (reserved) break;
            com::ModuleDetach(false);
            ombrix::ShutdownSocketLayer();
            ombrix::UnregisterControlWindowClass();
            ombrix::FreeLocalCertificateTable();
            break;
        default:
            break;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** result) try {
    return com::GetClassObject(clsid, riid, result);
} COM_CATCH

extern "C" HRESULT WINAPI DllCanUnloadNow() try { return com::ModuleLockCount() == 0 ? S_OK : S_FALSE; } COM_CATCH

extern "C" HRESULT WINAPI DllRegisterServer() try { return com::RegisterServer(); } COM_CATCH

extern "C" HRESULT WINAPI DllUnregisterServer() try { return com::UnregisterServer(); } COM_CATCH
