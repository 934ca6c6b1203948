// Loading a shared library by file name and looking up its exports: the platform seam of the
// FIPS loader.
#pragma once

namespace ombrix {

// An opaque handle to a loaded library, or nullptr when the file cannot be loaded.
void* LoadSharedLibrary(const char* file_name);
// The exported function of that name, or nullptr.
void* LookupSharedSymbol(void* library, const char* name);
void UnloadSharedLibrary(void* library);

}  // namespace ombrix
