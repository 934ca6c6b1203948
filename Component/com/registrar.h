// Applies registry scripts written in the registrar syntax:
//
//   HKCR { NoRemove CLSID { ForceRemove {guid} = s 'Description' {
//       InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' } } } }
//
// A key marked NoRemove survives unregistration, ForceRemove is replaced whole on registration
// and removed whole on unregistration, Delete is removed on registration. Other keys are removed
// on unregistration once they have no subkeys left. %MODULE% stands for the module's path, and
// further %NAME% variables for the values a caller gives.
#pragma once

#include <windows.h>

#include <span>
#include <string>
#include <string_view>

namespace com {

// A script variable: %name% stands for `value` (inside quoted strings, so quotes are doubled).
struct ScriptVariable {
    std::wstring_view name;
    std::wstring_view value;
};

// Registers (or unregisters) the script held as REGISTRY resource `resource_id` of the module,
// with %MODULE% and the given variables replaced.
HRESULT ApplyRegistryScript(UINT resource_id, bool do_register, std::span<const ScriptVariable> variables = {});

// Registers or unregisters a script given as text, its variables replaced (%MODULE% among them).
HRESULT ApplyRegistryScriptText(std::wstring_view script, std::span<const ScriptVariable> variables, bool do_register);

}  // namespace com
