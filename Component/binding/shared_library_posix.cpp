#include "binding/shared_library.h"

#include <dlfcn.h>

namespace ombrix {

// A bare file name is searched for by the dynamic loader's rules; a path is used unchanged.
void* LoadSharedLibrary(const char* file_name) { return dlopen(file_name, RTLD_NOW | RTLD_LOCAL); }

void* LookupSharedSymbol(void* library, const char* name) { return dlsym(library, name); }

void UnloadSharedLibrary(void* library) { dlclose(library); }

}  // namespace ombrix
