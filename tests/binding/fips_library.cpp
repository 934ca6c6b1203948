// A stand-in for an external FIPS-capable crypto library. Every binding entry is exported by
// name from the .def file that the build generates, forwarding to the OpenSSL linked in here;
// this file adds the FIPS switch functions in the variant chosen by FIPS_SWITCH_BEHAVIOUR,
// a stub for the entry OpenSSL 3.0 no longer has, and counters that let the tests see which
// library did the work.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "fips_library.h"

namespace {
FipsLibraryCounters g_counters;
[[maybe_unused]] int g_fips_on = FIPS_SWITCH_BEHAVIOUR == FIPS_SWITCH_ALREADY_ON ? 1 : 0;
}  // namespace

extern "C" {

FipsLibraryCounters* fips_library_counters() { return &g_counters; }

#if FIPS_SWITCH_BEHAVIOUR != FIPS_SWITCH_MISSING
int FIPS_mode(void) {
    ++g_counters.mode_calls;
    return g_fips_on;
}

int FIPS_mode_set(int on) {
    ++g_counters.mode_set_calls;
    if (FIPS_SWITCH_BEHAVIOUR == FIPS_SWITCH_FAILS) return 0;
    g_fips_on = on;
    return 1;
}
#endif

int fips_stub_i2d_ASN1_bytes(ASN1_STRING*, unsigned char**, int, int) { return 0; }

#if FIPS_LIBRARY_GENERATION == 102
// OpenSSL 1.0.2's version function, and its HMAC_CTX_init, which initialises a caller's context
// and returns nothing: called with the table's signature it would leave garbage for a context.
#undef SSLeay  // OpenSSL 3 maps the old name to OpenSSL_version_num
unsigned long SSLeay(void) { return 0x1000214fUL; }

void fips_stub_HMAC_CTX_init(HMAC_CTX*) { ++g_counters.crypto_calls; }
#elif FIPS_LIBRARY_GENERATION == 111
unsigned long fips_stub_OpenSSL_version_num(void) { return 0x1010117fUL; }
#endif

BIO* counted_BIO_new(const BIO_METHOD* method) {
    ++g_counters.crypto_calls;
    return BIO_new(method);
}

BIGNUM* counted_BN_bin2bn(const unsigned char* bytes, int length, BIGNUM* value) {
    ++g_counters.crypto_calls;
    return BN_bin2bn(bytes, length, value);
}

int counted_BN_num_bits(const BIGNUM* value) {
    ++g_counters.crypto_calls;
    return BN_num_bits(value);
}

int counted_EVP_DigestUpdate(EVP_MD_CTX* context, const void* data, size_t length) {
    ++g_counters.crypto_calls;
    return EVP_DigestUpdate(context, data, length);
}

int counted_HMAC_Update(HMAC_CTX* context, const unsigned char* data, size_t length) {
    ++g_counters.crypto_calls;
    return HMAC_Update(context, data, length);
}

}  // extern "C"
