#include "crypto/random_source.h"

#include <windows.h>
#include <wincrypt.h>
#undef OPTIONAL  // a parameter annotation of the Windows headers; the binding list uses the name

#include <atomic>

#include "binding/binding.h"
#include "crypto/buffer.h"

namespace ombrix {
namespace {

// A verification-only context of the RSA-full provider: no key container is needed.
bool PlatformGenerator(unsigned char* buffer, size_t count) {
    if (count > MAXDWORD) return false;
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
    const BOOL generated = CryptGenRandom(provider, static_cast<DWORD>(count), buffer);
    CryptReleaseContext(provider, 0);
    return generated != FALSE;
}

std::atomic<RandomGenerator> g_generator{&PlatformGenerator};

// The installed method: it must outlive every use the library makes of it.
RAND_METHOD g_method;

}  // namespace

int RandomBytesSource(unsigned char* buffer, int count) {
    if (count < 0 || (count > 0 && !buffer)) return 0;
    if (count == 0) return 1;
    if (!g_generator.load()(buffer, static_cast<size_t>(count))) {
        SecureZero(buffer, static_cast<uint64_t>(count));
        return 0;
    }
    return 1;
}

bool InstallRandomSource() {
    const CryptoBinding& crypto = Crypto();
    unsigned char probe[16];
    const bool works = RandomBytesSource(probe, sizeof probe) == 1;
    SecureZero(probe, sizeof probe);
    if (!works) return false;
    const RAND_METHOD* current = crypto.RAND_get_rand_method();
    if (!current) return false;
    if (current == &g_method || current->bytes == &RandomBytesSource) return true;
    RAND_METHOD method = *current;
    method.bytes = &RandomBytesSource;
    g_method = method;
    return crypto.RAND_set_rand_method(&g_method) == 1;
}

void SetRandomGeneratorForTesting(RandomGenerator generator) {
    g_generator.store(generator ? generator : &PlatformGenerator);
}

}  // namespace ombrix
