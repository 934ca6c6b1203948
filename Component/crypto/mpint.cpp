#include "crypto/mpint.h"

#include <new>

#include "base/secure_bytes.h"
#include "binding/binding.h"

namespace ombrix {

uint32_t GetBignum2(Buffer& buffer, BIGNUM* value) {
    uint32_t length = 0;
    uint8_t* bytes = buffer.GetString(&length);
    Crypto().BN_bin2bn(bytes, static_cast<int>(length), value);
    if (bytes) {
        SecureZero(bytes, length);
        delete[] bytes;
    }
    return length;
}

bool PutBignum2(Buffer& buffer, const BIGNUM* value) {
    const uint32_t n = (static_cast<uint32_t>(Crypto().BN_num_bits(value)) + 7) / 8;
    auto* bytes = new (std::nothrow) uint8_t[n + 1];
    if (!bytes) return false;
    bytes[0] = 0;
    bool written = false;
    if (static_cast<uint32_t>(Crypto().BN_bn2bin(value, bytes + 1)) == n) {
        if (n == 0)
            written = buffer.PutInt(0);
        else if (bytes[1] & 0x80)
            written = buffer.PutString(bytes, n + 1);  // the leading zero keeps the number positive
        else
            written = buffer.PutString(bytes + 1, n);
    }
    SecureZero(bytes, n + 1);
    delete[] bytes;
    return written;
}

}  // namespace ombrix
