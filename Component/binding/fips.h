// FIPS mode as the rest of the module sees it, without the crypto library's headers.
#pragma once

namespace ombrix {

// True while an external FIPS-capable library is bound and switched into FIPS mode.
bool FipsMode();

// Binds the crypto library: with no name (or an empty one) the library linked into the
// module; otherwise the named FIPS-capable library, switched into FIPS mode. On failure the
// linked library is bound and the error code is returned: 33016 when the file cannot be
// loaded or lacks an entry, 33017 when it refuses to enter FIPS mode. 0 on success.
int BindCryptoLibrary(const char* library_name);

}  // namespace ombrix
