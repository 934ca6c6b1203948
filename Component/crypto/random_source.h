// The random byte source that replaces the `bytes` function of the crypto library's random
// method: random bytes from the platform's cryptographic generator, and nothing when that fails.
#pragma once

#include <cstddef>

namespace ombrix {

// Fills `count` bytes with random bytes from the platform's generator; 1 on success, 0 when the
// generator fails (the buffer must then not be used). The library's `bytes` signature.
int RandomBytesSource(unsigned char* buffer, int count);

// Makes a copy of the library's current random method with `bytes` replaced by
// RandomBytesSource the library's random method. False, and nothing changed, when the
// platform's generator does not work or the library refuses the method. Installing twice keeps
// the first installation.
bool InstallRandomSource();

// The platform's cryptographic generator (random_source_win.cpp / random_source_posix.cpp): true
// when `count` bytes were written.
bool PlatformRandomBytes(unsigned char* buffer, size_t count);

// Test seam: the generator RandomBytesSource draws from (true when `count` bytes were written).
// Null restores the platform's generator.
using RandomGenerator = bool (*)(unsigned char* buffer, size_t count);
void SetRandomGeneratorForTesting(RandomGenerator generator);

}  // namespace ombrix
