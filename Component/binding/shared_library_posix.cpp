#include "binding/shared_library.h"

#include <dlfcn.h>
#include <link.h>

namespace ombrix {

// A bare file name is searched for by the dynamic loader's rules; a path is used unchanged.
void* LoadSharedLibrary(const char* file_name) { return dlopen(file_name, RTLD_NOW | RTLD_LOCAL); }

void* LookupSharedSymbol(void* library, const char* name) { return dlsym(library, name); }

void UnloadSharedLibrary(void* library) { dlclose(library); }

std::string SharedLibraryDirectory(void* library) {
    link_map* map = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
    const std::string path(map->l_name);
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace ombrix
