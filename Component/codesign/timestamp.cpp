#include "codesign/timestamp.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "binding/openssl_holders.h"
#include "codesign/authenticode_content.h"
#include "codesign/der_reader.h"
#include "codesign/url.h"
#include "crypto/random_source.h"

namespace ombrix {
namespace {

// The request's ASN.1 types. Their fields are the bound library's OBJECT IDENTIFIER and OCTET
// STRING types, so the item descriptions are filled from the binding table at each use.
struct SpcTimeStampRequestBlob {
    ASN1_OBJECT* type;
    ASN1_OCTET_STRING* signature;  // [0] EXPLICIT, optional
};

struct SpcTimeStampRequest {
    ASN1_OBJECT* type;
    SpcTimeStampRequestBlob* blob;
};

struct RequestItemTypes {
    ASN1_TEMPLATE blob_fields[2];
    ASN1_ITEM blob;
    ASN1_TEMPLATE request_fields[2];
    ASN1_ITEM request;
};

// Per thread, so that concurrent requests never write descriptions another thread is reading.
thread_local RequestItemTypes t_request_types;

const ASN1_ITEM* SpcTimeStampRequestBlobItem() { return &t_request_types.blob; }

const ASN1_ITEM* PrepareSpcTimeStampRequestItem() {
    const CryptoBinding& crypto = Crypto();
    RequestItemTypes& types = t_request_types;
    types.blob_fields[0] = {0, 0, offsetof(SpcTimeStampRequestBlob, type), "type", crypto.ASN1_OBJECT_it};
    types.blob_fields[1] = {ASN1_TFLG_EXPLICIT | ASN1_TFLG_OPTIONAL, 0, offsetof(SpcTimeStampRequestBlob, signature),
                            "signature", crypto.ASN1_OCTET_STRING_it};
    types.blob = {ASN1_ITYPE_SEQUENCE, V_ASN1_SEQUENCE, types.blob_fields, 2, nullptr,
                  sizeof(SpcTimeStampRequestBlob), "SpcTimeStampRequestBlob"};
    types.request_fields[0] = {0, 0, offsetof(SpcTimeStampRequest, type), "type", crypto.ASN1_OBJECT_it};
    types.request_fields[1] = {0, 0, offsetof(SpcTimeStampRequest, blob), "blob", &SpcTimeStampRequestBlobItem};
    types.request = {ASN1_ITYPE_SEQUENCE, V_ASN1_SEQUENCE, types.request_fields, 2, nullptr,
                     sizeof(SpcTimeStampRequest), "SpcTimeStampRequest"};
    return &types.request;
}

constexpr char kTimestampRequestOid[] = "1.3.6.1.4.1.311.3.2.1";
constexpr char kPkcs7DataOid[] = "1.2.840.113549.1.7.1";
// DER of OBJECT IDENTIFIER 1.2.840.113549.1.7.2 (PKCS#7 signedData).
constexpr uint8_t kSignedDataOidDer[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};

constexpr char kRfc3161TimestampOid[] = "1.3.6.1.4.1.311.3.3.1";
// DER of OBJECT IDENTIFIER 1.2.840.113549.1.9.16.1.4 (id-ct-TSTInfo).
constexpr uint8_t kTstInfoOidDer[] = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x10, 0x01, 0x04};

// Object identifiers are compared by their DER, through the bound library's encoder.
template <size_t N>
bool IsObject(const ASN1_OBJECT* object, const uint8_t (&expected)[N]) {
    if (!object) return false;
    unsigned char* der = nullptr;
    const int length = Crypto().ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(const_cast<ASN1_OBJECT*>(object)), &der,
                                              Crypto().ASN1_OBJECT_it());
    LibraryBytesPtr owned(der);
    return length == static_cast<int>(N) && memcmp(der, expected, N) == 0;
}

bool IsSignedData(const PKCS7* p7) { return p7 && p7->d.sign && IsObject(p7->type, kSignedDataOidDer); }

// The first signer info of a SignedData, or null.
PKCS7_SIGNER_INFO* FirstSignerInfo(const PKCS7* p7) {
    if (!IsSignedData(p7)) return nullptr;
    const auto* signers = reinterpret_cast<const OPENSSL_STACK*>(p7->d.sign->signer_info);
    if (!signers || Crypto().sk_num(signers) < 1) return nullptr;
    return static_cast<PKCS7_SIGNER_INFO*>(Crypto().sk_value(signers, 0));
}

// TSTInfo ::= SEQUENCE { version, policy, messageImprint, serialNumber, genTime, accuracy
// OPTIONAL, ordering DEFAULT FALSE, nonce OPTIONAL, [0] tsa OPTIONAL, [1] extensions OPTIONAL }:
// the imprint must be the one sent and the nonce present and equal.
bool TstInfoMatches(const uint8_t* der, size_t length, const Buffer& message_imprint, const uint8_t nonce[8]) {
    DerReader top(der, length);
    DerElement info, version, policy, imprint, serial, time, skipped, echoed;
    if (!top.Next(0x30, info) || !top.AtEnd()) return false;
    DerReader fields(info);
    if (!fields.Next(0x02, version) || !fields.Next(0x06, policy) || !fields.Next(0x30, imprint) ||
        !fields.Next(0x02, serial) || !fields.Next(0x18, time)) {
        return false;
    }
    if (imprint.whole_length != message_imprint.Length() ||
        memcmp(imprint.whole, message_imprint.Data(), imprint.whole_length) != 0) {
        return false;
    }
    if (fields.PeekTag() == 0x30 && !fields.Next(skipped)) return false;  // accuracy
    if (fields.PeekTag() == 0x01 && !fields.Next(skipped)) return false;  // ordering
    return fields.Next(0x02, echoed) && echoed.length == 8 && memcmp(echoed.content, nonce, 8) == 0;
}

std::atomic<uint32_t> g_deadline_ms{60000};
std::atomic<uint32_t> g_max_response_bytes{1048576};

}  // namespace

bool EncodeTimestampRequest(const uint8_t* signature, uint32_t length, Buffer& der) {
    if (length > INT32_MAX || (length && !signature)) return false;
    const CryptoBinding& crypto = Crypto();
    const ASN1_ITEM* item = PrepareSpcTimeStampRequestItem();
    const Asn1ItemPtr value(crypto.ASN1_item_new(item), Asn1ItemFree{item});
    if (!value) return false;
    auto* request = reinterpret_cast<SpcTimeStampRequest*>(value.get());
    // The fresh fields hold the library's static "undefined" object, which needs no release.
    request->type = crypto.OBJ_txt2obj(kTimestampRequestOid, 1);
    request->blob->type = crypto.OBJ_txt2obj(kPkcs7DataOid, 1);
    request->blob->signature = crypto.ASN1_STRING_new();
    bool encoded = false;
    if (request->type && request->blob->type && request->blob->signature &&
        crypto.ASN1_STRING_set(request->blob->signature, signature, static_cast<int>(length)) == 1) {
        unsigned char* bytes = nullptr;
        const int size = crypto.ASN1_item_i2d(value.get(), &bytes, item);
        LibraryBytesPtr owned(bytes);
        der.Clear();
        encoded = size > 0 && der.Append(bytes, static_cast<uint32_t>(size));
    }
    return encoded;
}

bool EncodeBase64Lines(const uint8_t* bytes, uint32_t length, Buffer& text) {
    if (length > INT32_MAX) return false;
    const CryptoBinding& crypto = Crypto();
    BioChainPtr sink(crypto.BIO_new(crypto.BIO_s_mem()));
    if (!sink) return false;
    BioChainPtr chain(crypto.BIO_new(crypto.BIO_f_base64()));
    if (!chain) return false;
    BIO* memory = sink.get();
    crypto.BIO_push(chain.get(), sink.release());  // the chain owns the sink from here on
    if (length && crypto.BIO_write(chain.get(), bytes, static_cast<int>(length)) != static_cast<int>(length)) return false;
    if (crypto.BIO_ctrl(chain.get(), BIO_CTRL_FLUSH, 0, nullptr) <= 0) return false;
    char* encoded = nullptr;
    const long size = crypto.BIO_ctrl(memory, BIO_CTRL_INFO, 0, &encoded);
    if (size < 0 || (size > 0 && !encoded)) return false;
    text.Clear();
    return size == 0 || text.Append(encoded, static_cast<uint32_t>(size));
}

bool AuthenticodeTimestampProtocol::BuildRequest(PKCS7* signed_data, Buffer& body) {
    const PKCS7_SIGNER_INFO* signer = FirstSignerInfo(signed_data);
    if (!signer || !signer->enc_digest || signer->enc_digest->length <= 0) return false;
    Buffer der;
    return EncodeTimestampRequest(signer->enc_digest->data, static_cast<uint32_t>(signer->enc_digest->length), der) &&
           EncodeBase64Lines(der.Data(), der.Length(), body);
}

bool AuthenticodeTimestampProtocol::MergeResponse(PKCS7* signed_data, const std::string& body) {
    const CryptoBinding& crypto = Crypto();
    PKCS7_SIGNER_INFO* target = FirstSignerInfo(signed_data);
    if (!target) return false;

    // The body is text up to its first zero byte.
    const size_t text_length = strnlen(body.data(), body.size());
    if (text_length == 0 || text_length > INT32_MAX) return false;
    BioChainPtr source(crypto.BIO_new_mem_buf(body.data(), static_cast<int>(text_length)));
    if (!source) return false;
    BioChainPtr chain(crypto.BIO_new(crypto.BIO_f_base64()));
    if (!chain) return false;
    crypto.BIO_push(chain.get(), source.release());
    Pkcs7Ptr response(crypto.d2i_PKCS7_bio(chain.get(), nullptr));
    if (!response) return false;

    // Everything is checked before the caller's SignedData changes.
    const PKCS7_SIGNER_INFO* countersigner = FirstSignerInfo(response.get());
    if (!countersigner) return false;
    unsigned char* der = nullptr;
    const int der_length = crypto.i2d_PKCS7_SIGNER_INFO(const_cast<PKCS7_SIGNER_INFO*>(countersigner), &der);
    LibraryBytesPtr owned_der(der);
    if (der_length <= 0) return false;
    Asn1StringPtr countersignature(crypto.ASN1_STRING_new());
    if (!countersignature || crypto.ASN1_STRING_set(countersignature.get(), der, der_length) != 1) return false;

    const auto* certificates = reinterpret_cast<const OPENSSL_STACK*>(response->d.sign->cert);
    const int count = certificates ? crypto.sk_num(certificates) : 0;
    for (int i = count - 1; i >= 0; --i) {
        auto* certificate = static_cast<X509*>(crypto.sk_value(certificates, i));
        if (!certificate || crypto.PKCS7_add_certificate(signed_data, certificate) != 1) return false;
    }
    if (crypto.PKCS7_add_attribute(target, NID_pkcs9_countersignature, V_ASN1_SEQUENCE, countersignature.get()) != 1)
        return false;
    countersignature.release();  // the attribute owns it now
    return true;
}

bool Rfc3161TimestampProtocol::EncodeRequest(AuthenticodeDigest digest, const Buffer& imprint, const uint8_t nonce[8],
                                             Buffer& der) {
    const uint8_t version[3] = {0x02, 0x01, 0x01};
    const uint8_t cert_req[3] = {0x01, 0x01, 0xFF};
    Buffer fields;
    der.Clear();
    return fields.Append(version, sizeof version) && AppendDigestInfo(fields, IdentifierOf(digest), imprint.Data(), imprint.Length()) &&
           AppendDerElement(fields, 0x02, nonce, 8) && fields.Append(cert_req, sizeof cert_req) &&
           AppendDerElement(der, 0x30, fields.Data(), fields.Length());
}

bool Rfc3161TimestampProtocol::TakeToken(const std::string& response, AuthenticodeDigest digest, const Buffer& imprint,
                                         const uint8_t nonce[8], Buffer& token) {
    const CryptoBinding& crypto = Crypto();
    // TimeStampResp ::= SEQUENCE { PKIStatusInfo { status, ... }, timeStampToken ContentInfo }
    DerReader top(reinterpret_cast<const uint8_t*>(response.data()), response.size());
    DerElement reply, status_info, status, content_info;
    if (!top.Next(0x30, reply) || !top.AtEnd()) return false;
    DerReader fields(reply);
    if (!fields.Next(0x30, status_info) || !fields.Next(0x30, content_info) || !fields.AtEnd()) return false;
    DerReader status_fields(status_info);
    // granted (0) or granted with modifications (1)
    if (!status_fields.Next(0x02, status) || status.length != 1 || status.content[0] > 1) return false;
    if (content_info.whole_length > INT32_MAX) return false;

    BioPtr source(crypto.BIO_new_mem_buf(content_info.whole, static_cast<int>(content_info.whole_length)));
    if (!source) return false;
    Pkcs7Ptr parsed(crypto.d2i_PKCS7_bio(source.get(), nullptr));
    if (!FirstSignerInfo(parsed.get())) return false;
    // The token's content is a TSTInfo, which the library keeps as an octet string of DER.
    const PKCS7* inner = parsed->d.sign->contents;
    if (!inner || !IsObject(inner->type, kTstInfoOidDer)) return false;
    const ASN1_TYPE* content = inner->d.other;
    if (!content || content->type != V_ASN1_OCTET_STRING || !content->value.octet_string) return false;
    const ASN1_OCTET_STRING* tst_info = content->value.octet_string;
    Buffer message_imprint;
    if (!AppendDigestInfo(message_imprint, IdentifierOf(digest), imprint.Data(), imprint.Length()) ||
        !TstInfoMatches(tst_info->data, static_cast<size_t>(tst_info->length), message_imprint, nonce)) {
        return false;
    }
    token.Clear();
    return token.Append(content_info.whole, static_cast<uint32_t>(content_info.whole_length));
}

bool Rfc3161TimestampProtocol::BuildRequest(PKCS7* signed_data, Buffer& body) {
    const PKCS7_SIGNER_INFO* signer = FirstSignerInfo(signed_data);
    if (!signer || !signer->enc_digest || signer->enc_digest->length <= 0) return false;
    LibraryHash hash(digest_);
    hash.Update(signer->enc_digest->data, static_cast<uint32_t>(signer->enc_digest->length));
    imprint_.Clear();
    if (!hash.Finish(imprint_) || !PlatformRandomBytes(nonce_, sizeof nonce_)) return false;
    // A positive INTEGER of exactly eight bytes: top bit clear, first byte not zero.
    nonce_[0] &= 0x7F;
    if (nonce_[0] == 0) nonce_[0] = 1;
    return EncodeRequest(digest_, imprint_, nonce_, body);
}

bool Rfc3161TimestampProtocol::MergeResponse(PKCS7* signed_data, const std::string& body) {
    PKCS7_SIGNER_INFO* target = FirstSignerInfo(signed_data);
    Buffer token;
    if (!target || imprint_.Length() == 0 || !TakeToken(body, digest_, imprint_, nonce_, token)) return false;
    const int nid = RegisterObjectIdentifier(kRfc3161TimestampOid);
    return nid != 0 && AddSequenceAttribute(target, nid, token.Data(), token.Length(), AttributeKind::kUnsigned);
}

int RequestTimestamp(PKCS7* signed_data, const std::string& url, TimestampProtocol& protocol,
                     const HttpExchangeLimits& limits) {
    ParsedUrl parsed;
    if (ParseUrl(url, parsed) != 1) return 1;
    if (parsed.scheme == "file" || parsed.host_name.empty() || parsed.host_name.size() > kMaxHostNameLength ||
        parsed.port == 0 || parsed.port > 65535)
        return 1;

    Buffer body;
    if (!protocol.BuildRequest(signed_data, body)) return 1;
    Buffer request;
    if (!ComposeHttpPost(parsed.host_name, parsed.path, protocol.ContentType(), protocol.Accept(), body.Data(),
                         body.Length(), request))
        return 1;
    Buffer response;
    if (!HttpPostExchange(parsed, request, limits, response)) return 1;
    std::string response_body;
    if (!TakeResponseBody(response, response_body)) return 1;
    return protocol.MergeResponse(signed_data, response_body) ? 0 : 1;
}

int RequestTimestamp(PKCS7* signed_data, const std::string& url, AuthenticodeDigest digest) {
    if (digest == AuthenticodeDigest::kMd5) {
        AuthenticodeTimestampProtocol protocol;
        return RequestTimestamp(signed_data, url, protocol, ProcessTimestampLimits());
    }
    Rfc3161TimestampProtocol protocol(digest);
    return RequestTimestamp(signed_data, url, protocol, ProcessTimestampLimits());
}

HttpExchangeLimits ProcessTimestampLimits() {
    HttpExchangeLimits limits;
    limits.deadline_ms = g_deadline_ms.load();
    limits.max_response_bytes = g_max_response_bytes.load();
    return limits;
}

void SetTimestampLimitsForTesting(const HttpExchangeLimits& limits) {
    g_deadline_ms = limits.deadline_ms;
    g_max_response_bytes = limits.max_response_bytes;
}

}  // namespace ombrix
