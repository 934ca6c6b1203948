#include "binding/shared_library.h"

#include <windows.h>

namespace ombrix {

// A bare file name is searched for by the Windows loader's rules; a path is used unchanged.
void* LoadSharedLibrary(const char* file_name) { return LoadLibraryA(file_name); }

void* LookupSharedSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

// The ANSI path, as the name was given and as OpenSSL opens files and modules by default.
std::string SharedLibraryDirectory(void* library) {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(library), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace ombrix
