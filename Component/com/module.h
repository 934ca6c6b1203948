// The in-process server module: object map, class objects and registration.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <span>

namespace com {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** result);

// One row of the object map: a creatable class and its registration.
struct ClassEntry {
    const CLSID* clsid;
    UINT registry_script;  // REGISTRY resource id
    CreateFunction create;
};

// The object map, in registration and lookup order (defined by the component).
std::span<const ClassEntry> ObjectMap();

// The module's handle and full path.
HMODULE ModuleHandle();
const wchar_t* ModulePath();

// Process attach and detach of the module.
void ModuleAttach(HMODULE module);
void ModuleDetach(bool process_terminating);

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** result);
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace com
