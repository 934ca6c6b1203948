// Owners of the crypto library's objects that the code-signing pieces use; each is released
// through the binding table.
#pragma once

#include <memory>

#include "binding/binding.h"

namespace ombrix {

struct BioChainFree {
    void operator()(BIO* bio) const { Crypto().BIO_free_all(bio); }
};
using BioChainPtr = std::unique_ptr<BIO, BioChainFree>;

struct Pkcs7Free {
    // A library without PKCS7_free leaves the structure allocated.
    void operator()(PKCS7* p7) const {
        if (Crypto().PKCS7_free) Crypto().PKCS7_free(p7);
    }
};
using Pkcs7Ptr = std::unique_ptr<PKCS7, Pkcs7Free>;

struct Asn1StringFree {
    void operator()(ASN1_STRING* text) const { Crypto().ASN1_STRING_free(text); }
};
using Asn1StringPtr = std::unique_ptr<ASN1_STRING, Asn1StringFree>;

// DER bytes that the library allocated (its i2d functions with a null output pointer).
struct LibraryBytesFree {
    void operator()(unsigned char* bytes) const { Crypto().CRYPTO_free(bytes, OPENSSL_FILE, OPENSSL_LINE); }
};
using LibraryBytesPtr = std::unique_ptr<unsigned char, LibraryBytesFree>;

}  // namespace ombrix
