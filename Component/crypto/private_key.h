// The PEM private-key import: a PEM RSA or DSA private key turned into the key blob the RSA and
// DSA classes take as their key.
#pragma once

#include <cstddef>

#include "base/buffer.h"

namespace ombrix {

// Parses `length` bytes of PEM text and appends the key blob it holds to `key_bytes`. False (and
// nothing appended) when the text is not a private key this module can use.
bool ImportPemPrivateKey(const char* pem, size_t length, Buffer& key_bytes);

}  // namespace ombrix
