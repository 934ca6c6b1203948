// Loading a shared library by file name and looking up its exports: the platform seam of the
// FIPS loader.
#pragma once

#include <string>

namespace ombrix {

// An opaque handle to a loaded library, or nullptr when the file cannot be loaded.
void* LoadSharedLibrary(const char* file_name);
// The exported function of that name, or nullptr.
void* LookupSharedSymbol(void* library, const char* name);
void UnloadSharedLibrary(void* library);
// The directory the loaded library's file is in, without a trailing separator, in the encoding
// the library takes file names in; empty when unknown.
std::string SharedLibraryDirectory(void* library);

// The same four calls as the binding makes them: the platform's by default, a stand-in library
// in tests.
class SharedLibraryLoader {
public:
    virtual void* Load(const char* file_name) const = 0;
    virtual void* Lookup(void* library, const char* name) const = 0;
    virtual void Unload(void* library) const = 0;
    virtual std::string Directory(void* library) const = 0;

protected:
    constexpr SharedLibraryLoader() = default;
    ~SharedLibraryLoader() = default;
};

}  // namespace ombrix
