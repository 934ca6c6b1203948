#include "codesign/authenticode_content.h"

#include "binding/binding.h"

namespace ombrix {
namespace {

constexpr uint8_t kMd5Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
constexpr uint8_t kSha1Oid[] = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
constexpr uint8_t kSha256Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
constexpr uint8_t kSha384Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02};
constexpr uint8_t kSha512Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03};

// SEQUENCE { OBJECT IDENTIFIER 1.3.6.1.4.1.311.2.1.15 (SPC PE image data), SEQUENCE { BIT STRING
// (empty), [0] { [2] { [0] IMPLICIT BMPString "<<<Obsolete>>>" } } } }
constexpr uint8_t kPeImageData[] = {
    0x30, 0x33, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F, 0x30, 0x25, 0x03, 0x01,
    0x00, 0xA0, 0x20, 0xA2, 0x1E, 0x80, 0x1C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x4F, 0x00, 0x62, 0x00,
    0x73, 0x00, 0x6F, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x74, 0x00, 0x65, 0x00, 0x3E, 0x00, 0x3E, 0x00, 0x3E};

}  // namespace

const DigestIdentifier kMd5DigestIdentifier{kMd5Oid, sizeof kMd5Oid, 16};
const DigestIdentifier kSha256DigestIdentifier{kSha256Oid, sizeof kSha256Oid, 32};

namespace {

struct DigestRow {
    AuthenticodeDigest digest;
    int nid;
    const DigestIdentifier* identifier;
    const EVP_MD* (*CryptoBinding::*library)();
};

const DigestIdentifier kSha1DigestIdentifier{kSha1Oid, sizeof kSha1Oid, 20};
const DigestIdentifier kSha384DigestIdentifier{kSha384Oid, sizeof kSha384Oid, 48};
const DigestIdentifier kSha512DigestIdentifier{kSha512Oid, sizeof kSha512Oid, 64};

const DigestRow kDigests[] = {
    {AuthenticodeDigest::kMd5, NID_md5, &kMd5DigestIdentifier, &CryptoBinding::EVP_md5},
    {AuthenticodeDigest::kSha1, NID_sha1, &kSha1DigestIdentifier, &CryptoBinding::EVP_sha1},
    {AuthenticodeDigest::kSha256, NID_sha256, &kSha256DigestIdentifier, &CryptoBinding::EVP_sha256},
    {AuthenticodeDigest::kSha384, NID_sha384, &kSha384DigestIdentifier, &CryptoBinding::EVP_sha384},
    {AuthenticodeDigest::kSha512, NID_sha512, &kSha512DigestIdentifier, &CryptoBinding::EVP_sha512},
};

const DigestRow& RowOf(AuthenticodeDigest digest) { return kDigests[static_cast<int>(digest)]; }

}  // namespace

const DigestIdentifier& IdentifierOf(AuthenticodeDigest digest) { return *RowOf(digest).identifier; }

const EVP_MD* LibraryDigestOf(AuthenticodeDigest digest) {
    const auto entry = Crypto().*RowOf(digest).library;
    return entry ? entry() : nullptr;
}

bool DigestOfNid(int nid, AuthenticodeDigest& digest) {
    for (const DigestRow& row : kDigests) {
        if (row.nid == nid) {
            digest = row.digest;
            return true;
        }
    }
    return false;
}

LibraryHash::LibraryHash(AuthenticodeDigest digest) : context_(Crypto().EVP_MD_CTX_create()) {
    const EVP_MD* md = LibraryDigestOf(digest);
    ok_ = context_ && md && Crypto().EVP_DigestInit_ex(context_.get(), md, nullptr) == 1;
}

void LibraryHash::Update(const uint8_t* bytes, uint32_t count) {
    if (ok_ && count) ok_ = Crypto().EVP_DigestUpdate(context_.get(), bytes, count) == 1;
}

bool LibraryHash::Finish(Buffer& out) {
    uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    ok_ = ok_ && Crypto().EVP_DigestFinal_ex(context_.get(), digest, &length) == 1;
    const bool appended = ok_ && out.Append(digest, length);
    ok_ = false;  // finished
    return appended;
}

bool AppendDigestInfo(Buffer& out, const DigestIdentifier& digest, const uint8_t* value, uint32_t length) {
    const uint8_t null_parameters[2] = {0x05, 0x00};
    Buffer algorithm, fields;
    return AppendDerHeader(algorithm, 0x30, digest.oid_length + 2) && algorithm.Append(digest.oid_der, digest.oid_length) &&
           algorithm.Append(null_parameters, 2) && fields.Append(algorithm.Data(), algorithm.Length()) &&
           AppendDerElement(fields, 0x04, value, length) && AppendDerElement(out, 0x30, fields.Data(), fields.Length());
}

bool BuildIndirectDataContent(const DigestIdentifier& digest, const uint8_t* value, uint32_t length, Buffer& content,
                              uint32_t* header_length) {
    if (!value || length != digest.digest_length) return false;
    Buffer fields;
    content.Clear();
    const bool built = fields.Append(kPeImageData, sizeof kPeImageData) && AppendDigestInfo(fields, digest, value, length) &&
                       AppendDerElement(content, 0x30, fields.Data(), fields.Length());
    if (built && header_length) *header_length = content.Length() - fields.Length();
    return built;
}

bool AppendDerHeader(Buffer& out, uint8_t tag, uint32_t length) {
    uint8_t header[6] = {tag};
    uint32_t used = 2;
    if (length < 0x80) {
        header[1] = static_cast<uint8_t>(length);
    } else {
        uint32_t digits = 0;
        for (uint32_t rest = length; rest; rest >>= 8) ++digits;
        header[1] = static_cast<uint8_t>(0x80 | digits);
        for (uint32_t i = 0; i < digits; ++i) header[2 + i] = static_cast<uint8_t>(length >> (8 * (digits - 1 - i)));
        used += digits;
    }
    return out.Append(header, used);
}

bool AppendDerElement(Buffer& out, uint8_t tag, const uint8_t* content, uint32_t length) {
    return AppendDerHeader(out, tag, length) && (length == 0 || out.Append(content, length));
}

bool AddSequenceAttribute(PKCS7_SIGNER_INFO* signer, int nid, const uint8_t* der, uint32_t length, AttributeKind kind) {
    const CryptoBinding& crypto = Crypto();
    if (length > INT32_MAX) return false;
    Asn1StringPtr value(crypto.ASN1_STRING_new());
    if (!value || crypto.ASN1_STRING_set(value.get(), der, static_cast<int>(length)) != 1) return false;
    const auto add = kind == AttributeKind::kSigned ? crypto.PKCS7_add_signed_attribute : crypto.PKCS7_add_attribute;
    if (add(signer, nid, V_ASN1_SEQUENCE, value.get()) != 1) return false;
    value.release();  // the signer info owns it now
    return true;
}

int RegisterObjectIdentifier(const char* dotted) {
    const CryptoBinding& crypto = Crypto();
    // OpenSSL 3.0 refuses to create an identifier it already knows, so look it up first.
    int nid = crypto.OBJ_txt2nid(dotted);
    if (nid != NID_undef) return nid;
    if (crypto.OBJ_create(dotted, nullptr, nullptr) == NID_undef) return 0;
    nid = crypto.OBJ_txt2nid(dotted);
    return nid == NID_undef ? 0 : nid;
}

}  // namespace ombrix
