// Applies registry scripts written in the registrar syntax:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {guid} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// A key marked NoRemove survives unregistration, ForceRemove is replaced whole on registration
// and removed whole on unregistration, Delete is removed on registration. Other keys are removed
// on unregistration once they have no subkeys left. %MODULE% stands for the module's path.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace com {

// Registers (or unregisters) the script held as REGISTRY resource `resource_id` of the module.
HRESULT ApplyRegistryScript(UINT resource_id, bool do_register);

// Registers or unregisters a script given as text; `module_path` replaces %MODULE%.
HRESULT ApplyRegistryScriptText(std::wstring_view script, std::wstring_view module_path, bool do_register);

}  // namespace com
