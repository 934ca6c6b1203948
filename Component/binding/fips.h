// FIPS mode and the guard of the binding as the rest of the module sees them, without the
// crypto library's headers.
#pragma once

namespace ombrix {

// True while an external FIPS-capable library is bound and switched into FIPS mode.
bool FipsMode();

// Binds the crypto library: with no name (or an empty one) the library linked into the
// module; otherwise the named FIPS-capable library, switched into FIPS mode. On failure the
// linked library is bound and the error code is returned: 33016 when the file cannot be
// loaded or lacks an entry, 33017 when it refuses to enter FIPS mode. 0 on success.
// Refused with 33016, the binding unchanged, on a thread that holds a CryptoUse.
int BindCryptoLibrary(const char* library_name);

// Held by every operation that calls into the crypto library, for its whole length: a rebinding
// waits until the operations holding one have ended, and operations that start meanwhile wait
// for it. Uses nest on one thread (an event handler's operation inside another counts as one).
class CryptoUse {
public:
    CryptoUse();
    ~CryptoUse();
    CryptoUse(const CryptoUse&) = delete;
    CryptoUse& operator=(const CryptoUse&) = delete;
    // True while this thread holds one.
    static bool Active();
};

}  // namespace ombrix
