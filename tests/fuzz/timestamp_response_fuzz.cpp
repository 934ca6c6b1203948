// The time-stamp response parser (the legacy Authenticode protocol's MergeResponse) on any
// answer body, merged into a fresh SignedData with one signer each time. A refused answer leaves
// the SignedData without a countersignature; an accepted one adds exactly one.
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "codesign/timestamp.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

struct Pkcs7Deleter {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};

// A SignedData whose only signer info carries a signature value, as RequestTimestamp sees it.
std::unique_ptr<PKCS7, Pkcs7Deleter> SignedDataWithOneSigner() {
    std::unique_ptr<PKCS7, Pkcs7Deleter> p7(PKCS7_new());
    FUZZ_CHECK(p7 && PKCS7_set_type(p7.get(), NID_pkcs7_signed) == 1);
    PKCS7_SIGNER_INFO* signer = PKCS7_SIGNER_INFO_new();
    FUZZ_CHECK(signer != nullptr);
    static const uint8_t kSignature[] = {1, 2, 3, 4, 5, 6, 7, 8};
    FUZZ_CHECK(ASN1_OCTET_STRING_set(signer->enc_digest, kSignature, sizeof kSignature) == 1);
    FUZZ_CHECK(X509_ALGOR_set0(signer->digest_alg, OBJ_nid2obj(NID_md5), V_ASN1_NULL, nullptr) == 1);
    FUZZ_CHECK(X509_ALGOR_set0(signer->digest_enc_alg, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr) == 1);
    FUZZ_CHECK(ASN1_INTEGER_set(signer->issuer_and_serial->serial, 1) == 1);
    FUZZ_CHECK(PKCS7_add_signer(p7.get(), signer) == 1);  // the SignedData owns it from here on
    FUZZ_CHECK(PKCS7_content_new(p7.get(), NID_pkcs7_data) == 1);
    return p7;
}

int Countersignatures(PKCS7* p7) {
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(p7->d.sign->signer_info, 0);
    int count = 0;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(signer->unauth_attr); ++i) {
        if (OBJ_obj2nid(X509_ATTRIBUTE_get0_object(sk_X509_ATTRIBUTE_value(signer->unauth_attr, i))) ==
            NID_pkcs9_countersignature)
            ++count;
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 200000) return 0;
    const std::string body(reinterpret_cast<const char*>(data), size);
    auto p7 = SignedDataWithOneSigner();
    FUZZ_CHECK(i2d_PKCS7(p7.get(), nullptr) > 0);
    AuthenticodeTimestampProtocol protocol;
    const bool merged = protocol.MergeResponse(p7.get(), body);
    ERR_clear_error();
    FUZZ_CHECK(Countersignatures(p7.get()) == (merged ? 1 : 0));
    if (merged) {
        // The merged SignedData still encodes.
        unsigned char* der = nullptr;
        const int length = i2d_PKCS7(p7.get(), &der);
        FUZZ_CHECK(length > 0);
        OPENSSL_free(der);
    }
    return 0;
}
