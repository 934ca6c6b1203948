// Entry points of Certificate.dll. The DLL reuses the component's COM framework with an object
// map of its own; it registers only its class, not the type library: IDispatch comes from the
// registered Ombrix library or, failing that, from the copy embedded here as TYPELIB 1.
#include <windows.h>

#include "certificate.h"
#include "com/module.h"
#include "com/object.h"

namespace {

constexpr UINT kRegistryScript = 101;

// Only the class: the type library is the component's, registered by Ombrix.dll.
constexpr com::ClassEntry kClasses[] = {
    {&certstandin::CLSID_Certificate, L"Kestrane.Certificate.1", L"Certificate Class", kRegistryScript,
     &com::ComObject<certstandin::CCertificate>::Create},
};
const com::ModuleDescription kModule{kClasses};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            com::ModuleAttach(instance, kModule);
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

COM_SERVER_EXPORTS
