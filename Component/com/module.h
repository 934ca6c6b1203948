// The in-process server module as the framework sees it: class objects, type information and
// registration, for the classes and type library the module describes at attach.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <span>

namespace com {

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** result);

// One row of the object map: a creatable class and its registration. The registry script is a
// template in which %CLSID%, %PROGID% (versioned), %VIPROGID% (without the version),
// %DESCRIPTION% and %LIBID% stand for the class's values, so each is written once.
struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* prog_id;      // "Vendor.Class.N"
    const wchar_t* description;  // "Class Class"
    UINT registry_script;        // REGISTRY resource id of the template
    CreateFunction create;
};

// What a server module hands the framework: its classes, in registration and lookup order,
// and the type library it registers (none when `type_library` is null).
struct ModuleDescription {
    std::span<const ClassEntry> classes;
    const GUID* type_library = nullptr;
    WORD type_library_major = 1;
    WORD type_library_minor = 0;
};

// Sets the description the class objects and registration work from; must outlive the module.
void DescribeModule(const ModuleDescription& description);

// The module's handle and full path.
HMODULE ModuleHandle();
const wchar_t* ModulePath();

// Process attach and detach of the module.
void ModuleAttach(HMODULE module, const ModuleDescription& description);
void ModuleDetach(bool process_terminating);

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** result);
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace com

// The exports every in-process server built on the framework has besides DllMain (which attaches
// the module): class objects, the unload check and registration.
#define COM_SERVER_EXPORTS                                                                              \
    extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** result) try {      \
        return com::GetClassObject(clsid, riid, result);                                               \
    } COM_CATCH                                                                                        \
    extern "C" HRESULT WINAPI DllCanUnloadNow() try {                                                  \
        return com::ModuleLockCount() == 0 ? S_OK : S_FALSE;                                           \
    } COM_CATCH                                                                                        \
    extern "C" HRESULT WINAPI DllRegisterServer() try { return com::RegisterServer(); } COM_CATCH      \
    extern "C" HRESULT WINAPI DllUnregisterServer() try { return com::UnregisterServer(); } COM_CATCH
