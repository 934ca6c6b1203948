#include "binding/shared_library.h"

#include <windows.h>

namespace ombrix {

// A bare file name is searched for by the Windows loader's rules; a path is used unchanged.
void* LoadSharedLibrary(const char* file_name) { return LoadLibraryA(file_name); }

void* LookupSharedSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace ombrix
