// Owners of the crypto library's objects: each is freed through the binding table's entry for
// its kind, so an object goes back to the library it came from.
#pragma once

#include <memory>

#include "binding/binding.h"

namespace ombrix {

// Frees with the table entry `Entry` (a member of CryptoBinding); a library that lacks the entry
// leaves the object allocated rather than crash.
template <class Object, auto Entry>
struct LibraryFree {
    void operator()(Object* object) const {
        if (object && Crypto().*Entry) (Crypto().*Entry)(object);
    }
};

template <class Object, auto Entry>
using LibraryPtr = std::unique_ptr<Object, LibraryFree<Object, Entry>>;

using BioPtr = LibraryPtr<BIO, &CryptoBinding::BIO_free>;
using BioChainPtr = LibraryPtr<BIO, &CryptoBinding::BIO_free_all>;  // a filter chain, through its head
using Pkcs7Ptr = LibraryPtr<PKCS7, &CryptoBinding::PKCS7_free>;
using Asn1StringPtr = LibraryPtr<ASN1_STRING, &CryptoBinding::ASN1_STRING_free>;
using X509Ptr = LibraryPtr<X509, &CryptoBinding::X509_free>;
using PkeyPtr = LibraryPtr<EVP_PKEY, &CryptoBinding::EVP_PKEY_free>;
using RsaMethodPtr = LibraryPtr<RSA_METHOD, &CryptoBinding::RSA_meth_free>;
using BignumPtr = LibraryPtr<BIGNUM, &CryptoBinding::BN_clear_free>;  // wiped before it is freed
using RsaPtr = LibraryPtr<RSA, &CryptoBinding::RSA_free>;
using DsaPtr = LibraryPtr<DSA, &CryptoBinding::DSA_free>;
using MdContextPtr = LibraryPtr<EVP_MD_CTX, &CryptoBinding::EVP_MD_CTX_destroy>;
using CipherContextPtr = LibraryPtr<EVP_CIPHER_CTX, &CryptoBinding::EVP_CIPHER_CTX_free>;

// A value of an ASN.1 template type, freed through the item that describes it.
struct Asn1ItemFree {
    const ASN1_ITEM* item = nullptr;
    void operator()(ASN1_VALUE* value) const {
        if (value && Crypto().ASN1_item_free) Crypto().ASN1_item_free(value, item);
    }
};
using Asn1ItemPtr = std::unique_ptr<ASN1_VALUE, Asn1ItemFree>;

// DER bytes that the library allocated (its i2d functions with a null output pointer).
struct LibraryBytesFree {
    void operator()(unsigned char* bytes) const { Crypto().CRYPTO_free(bytes, OPENSSL_FILE, OPENSSL_LINE); }
};
using LibraryBytesPtr = std::unique_ptr<unsigned char, LibraryBytesFree>;

}  // namespace ombrix
