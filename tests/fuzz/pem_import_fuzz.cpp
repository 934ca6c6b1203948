// The PEM private-key import on any text. A key it accepts becomes a blob that the RSA or DSA
// class takes as a complete private key. Texts are kept to 4 KiB (a 4096-bit key in either PEM
// form): each run's time is the library's key reading, which costs the same for any key size.
#include <openssl/err.h>

#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "crypto/private_key.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    Buffer blob;
    const bool imported = ImportPemPrivateKey(reinterpret_cast<const char*>(data), size, blob);
    ERR_clear_error();
    if (!imported) {
        FUZZ_CHECK(blob.Length() == 0);
        return 0;
    }
    FUZZ_CHECK(blob.Length() > 11);
    const bool is_rsa = memcmp(blob.Data() + 4, "ssh-rsa", 7) == 0;
    const bool is_dsa = memcmp(blob.Data() + 4, "ssh-dss", 7) == 0;
    FUZZ_CHECK(is_rsa || is_dsa);
    std::unique_ptr<cryptASYMMETRIC> key;
    if (is_rsa) key = std::make_unique<cryptRSA>();
    else key = std::make_unique<cryptDSS>();
    // The library accepted the key; the class may still refuse one outside its own limits.
    if (!key->SetKey(blob.Data(), blob.Length())) return 0;
    FUZZ_CHECK(key->HasPrivateKey());
    return 0;
}
