#include "crypto/random_source.h"

#include <atomic>

#include "binding/binding.h"
#include "base/buffer.h"

namespace ombrix {
namespace {

std::atomic<RandomGenerator> g_generator{&PlatformRandomBytes};

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
    g_generator.store(generator ? generator : &PlatformRandomBytes);
}

}  // namespace ombrix
