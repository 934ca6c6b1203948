#include "crypto/random_source.h"

#include <windows.h>
#include <wincrypt.h>

namespace ombrix {

// A verification-only context of the RSA-full provider: no key container is needed.
bool PlatformRandomBytes(unsigned char* buffer, size_t count) {
    if (count > MAXDWORD) return false;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    const BOOL generated = CryptGenRandom(provider, static_cast<DWORD>(count), buffer);
    CryptReleaseContext(provider, 0);
    return generated != FALSE;
}

}  // namespace ombrix
