#include "crypto/private_key.h"

#include <memory>

#include "binding/binding.h"
#include "binding/openssl_holders.h"
#include "crypto/mpint.h"

namespace ombrix {
namespace {

// Larger texts are no key this module would use.
constexpr size_t kMaxPemLength = 1u << 20;


// Declines every pass phrase request: an encrypted key fails to load instead of the library
// prompting on a console.
int NoPassPhrase(char*, int, int, void*) { return -1; }

bool PutValues(Buffer& blob, const char* type, std::initializer_list<const BIGNUM*> values) {
    if (!blob.PutCString(type)) return false;
    for (const BIGNUM* value : values)
        if (!value || !PutBignum2(blob, value)) return false;
    return true;
}

}  // namespace

bool ImportPemPrivateKey(const char* pem, size_t length, Buffer& key_bytes) {
    const CryptoBinding& crypto = Crypto();
    if (!pem || length == 0 || length > kMaxPemLength) return false;
    if (!crypto.EVP_PKEY_get_base_id || !crypto.EVP_PKEY_get0_RSA || !crypto.EVP_PKEY_get0_DSA ||
        !crypto.RSA_get0_key || !crypto.RSA_get0_factors || !crypto.RSA_get0_crt_params ||
        !crypto.DSA_get0_pqg || !crypto.DSA_get0_key)
        return false;

    BioPtr bio(crypto.BIO_new_mem_buf(pem, static_cast<int>(length)));
    if (!bio) return false;
    PkeyPtr key(crypto.PEM_read_bio_PrivateKey(bio.get(), nullptr, &NoPassPhrase, nullptr));
    if (!key) return false;

    Buffer blob;
    switch (crypto.EVP_PKEY_get_base_id(key.get())) {
        case EVP_PKEY_RSA: {
            const RSA* rsa = crypto.EVP_PKEY_get0_RSA(key.get());
            if (!rsa) return false;
            const BIGNUM *n = nullptr, *e = nullptr, *d = nullptr, *p = nullptr, *q = nullptr;
            const BIGNUM *dmp1 = nullptr, *dmq1 = nullptr, *iqmp = nullptr;
            crypto.RSA_get0_key(rsa, &n, &e, &d);
            crypto.RSA_get0_factors(rsa, &p, &q);
            crypto.RSA_get0_crt_params(rsa, &dmp1, &dmq1, &iqmp);
            if (!PutValues(blob, "ssh-rsa", {n, e, d, p, q, dmp1, dmq1, iqmp})) return false;
            break;
        }
        case EVP_PKEY_DSA: {
            const DSA* dsa = crypto.EVP_PKEY_get0_DSA(key.get());
            if (!dsa) return false;
            const BIGNUM *p = nullptr, *q = nullptr, *g = nullptr, *y = nullptr, *x = nullptr;
            crypto.DSA_get0_pqg(dsa, &p, &q, &g);
            crypto.DSA_get0_key(dsa, &y, &x);
            if (!PutValues(blob, "ssh-dss", {p, q, g, y, x})) return false;
            break;
        }
        default:
            return false;
    }
    return key_bytes.Append(blob.Data(), blob.Length());
}

}  // namespace ombrix
