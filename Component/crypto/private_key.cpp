#include "crypto/private_key.h"

namespace ombrix {

// RSA and DSA key blobs arrive with the asymmetric algorithms; until then no PEM key is usable.
bool ImportPemPrivateKey(const char* pem, size_t length, Buffer& key_bytes) { return false; }

}  // namespace ombrix
