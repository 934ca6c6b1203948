// The crypto library binding: one process-wide table through which the module makes every
// call into the crypto library. It normally points at the OpenSSL linked into the module;
// BindCryptoLibrary can point it at an external FIPS-capable build instead.
#pragma once

#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED  // the low-level cipher and RSA/DSA calls are deprecated in 3.0
#endif
#include <openssl/aes.h>
#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/bio.h>
#include <openssl/blowfish.h>
#include <openssl/bn.h>
#include <openssl/cast.h>
#include <openssl/des.h>
#include <openssl/dh.h>
#include <openssl/dsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/md4.h>
#include <openssl/md5.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/rc2.h>
#include <openssl/rc4.h>
#include <openssl/rc5.h>
#include <openssl/rsa.h>
#include <openssl/stack.h>
#include <openssl/x509.h>

#include <memory>

#include "binding/fips.h"

// OpenSSL 3.0 keeps some removed names as macros; the table's members carry those names.
#undef EVP_MD_CTX_create
#undef EVP_MD_CTX_destroy
#undef OPENSSL_add_all_algorithms_conf
#undef sk_value
#undef sk_num

namespace ombrix {

// Entries that the linked OpenSSL 3.0 does not provide, with their OpenSSL 1.0.2 signatures.
using FipsModeFunction = int (*)(void);
using FipsModeSetFunction = int (*)(int);
using I2dAsn1BytesFunction = int (*)(ASN1_STRING* a, unsigned char** pp, int tag, int xclass);

struct CryptoBinding {
#define ENTRY(name) decltype(&::name) name;
#define RENAMED(name, successor) decltype(&::successor) name;
#define FIPS_SWITCH(name, type) type name;
#define UNLINKED(name, type) type name;
#define LINKED_ONLY(name) decltype(&::name) name;
#define OPTIONAL(name) decltype(&::name) name;
#include "binding/entries.h"
#include "binding/entries_end.h"
};

inline constexpr int kCryptoBindingEntries = 146;
inline constexpr int kCryptoBindingOptionalEntries = 49;
static_assert(sizeof(CryptoBinding) == (kCryptoBindingEntries + kCryptoBindingOptionalEntries) * sizeof(void*));

// The bound table: the linked one or a loaded library's, never changed once published. A
// rebinding publishes another; it waits for the operations that hold a CryptoUse, and the
// library of the table it replaces stays loaded while a CryptoHold on that table lives.
const CryptoBinding& Crypto();

// The bound table, held: the library it points into stays loaded while a hold lives, also when
// the process rebinds meanwhile. Objects that keep library state from one call to the next
// (running digest and HMAC computations) take one and make every call, freeing included, through it.
using CryptoHold = std::shared_ptr<const CryptoBinding>;
CryptoHold HoldCrypto();

// BindCryptoLibrary with the library loaded, looked up and unloaded through `loader`, which
// outlives the binding.
class SharedLibraryLoader;
int BindCryptoLibrary(const char* library_name, const SharedLibraryLoader& loader);

}  // namespace ombrix
