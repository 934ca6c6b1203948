#include "crypto/private_key.h"

namespace ombrix {

// Appends nothing and reports failure until the RSA and DSA key classes arrive.
bool ImportPemPrivateKey(const char* /*pem*/, size_t /*length*/, Buffer& /*key_bytes*/) { return false; }

}  // namespace ombrix
