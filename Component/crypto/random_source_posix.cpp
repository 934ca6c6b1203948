#include "crypto/random_source.h"

#include <sys/random.h>

#include <cerrno>

namespace ombrix {

// The kernel's generator; getrandom returns at most 32 MiB per call, so larger requests loop.
bool PlatformRandomBytes(unsigned char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t got = getrandom(buffer + done, count - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace ombrix
