// Multiprecision integers in byte buffers: the SSH mpint encoding (RFC 4251) of the key blobs.
#pragma once

#include <cstdint>

#include "base/buffer.h"

struct bignum_st;  // the crypto library's BIGNUM

namespace ombrix {

// A length-prefixed string read from `buffer` as an unsigned big-endian magnitude into `value`;
// returns the string's length, or 0 (and sets the value to zero) when no string can be read.
uint32_t GetBignum2(Buffer& buffer, bignum_st* value);
// Appends the SSH mpint encoding of a non-negative number.
bool PutBignum2(Buffer& buffer, const bignum_st* value);

}  // namespace ombrix
