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

COM_SERVER_EXPORTS
