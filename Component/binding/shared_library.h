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

}  // namespace ombrix
