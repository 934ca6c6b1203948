// The pieces of an Authenticode signature that do not depend on the key: the indirect-data
// content built from a digest identifier and value, and the registration of object identifiers.
#pragma once

#include <cstdint>

#include "base/buffer.h"
#include "binding/openssl_holders.h"
#include "codesign/authenticode_digest.h"

namespace ombrix {

// A digest algorithm as the indirect-data content names it: the DER of its OBJECT IDENTIFIER and
// the length of its value.
struct DigestIdentifier {
    const uint8_t* oid_der;
    uint32_t oid_length;
    uint32_t digest_length;
};

extern const DigestIdentifier kMd5DigestIdentifier;
extern const DigestIdentifier kSha256DigestIdentifier;

const DigestIdentifier& IdentifierOf(AuthenticodeDigest digest);
// The bound library's digest, or null when the library does not offer it.
const EVP_MD* LibraryDigestOf(AuthenticodeDigest digest);
// The digest for the library's number of it (NID_md5, NID_sha1, NID_sha256, ...); false for others.
bool DigestOfNid(int nid, AuthenticodeDigest& digest);

// A digest computed by the bound library; a failure in any step sticks and fails Finish.
class LibraryHash {
public:
    explicit LibraryHash(AuthenticodeDigest digest);
    void Update(const uint8_t* bytes, uint32_t count);
    // Appends the digest to `out`.
    bool Finish(Buffer& out);

private:
    MdContextPtr context_;
    bool ok_ = false;
};

// The DER of the SpcIndirectDataContent: the PE image data with the "<<<Obsolete>>>" file link,
// then the DigestInfo { algorithm, NULL parameters, digest }. `header_length` (when not null)
// receives the length of the outer SEQUENCE's tag and length; the bytes after it are what the
// signature's message digest covers. False when the digest length does not match or memory is
// lacking. For MD5 the content is 89 bytes, fixed but for the last 16.
bool BuildIndirectDataContent(const DigestIdentifier& digest, const uint8_t* value, uint32_t length, Buffer& content,
                              uint32_t* header_length);

// Appends DigestInfo ::= SEQUENCE { AlgorithmIdentifier { OID, NULL }, OCTET STRING value }, which
// is also RFC 3161's MessageImprint.
bool AppendDigestInfo(Buffer& out, const DigestIdentifier& digest, const uint8_t* value, uint32_t length);

// Appends a DER tag and length (short or long form).
bool AppendDerHeader(Buffer& out, uint8_t tag, uint32_t length);
// Appends a whole DER element: tag, length, content.
bool AppendDerElement(Buffer& out, uint8_t tag, const uint8_t* content, uint32_t length);

// Adds a SEQUENCE attribute (its DER given) to a signer info; the signer info owns the value.
enum class AttributeKind { kSigned, kUnsigned };
bool AddSequenceAttribute(PKCS7_SIGNER_INFO* signer, int nid, const uint8_t* der, uint32_t length, AttributeKind kind);

// The library's number for a dotted object identifier, registering it (without names) only when
// the library does not know it yet. 0 when it can be neither found nor registered.
int RegisterObjectIdentifier(const char* dotted);

}  // namespace ombrix
