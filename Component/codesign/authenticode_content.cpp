#include "codesign/authenticode_content.h"

#include "binding/binding.h"

namespace ombrix {
namespace {

constexpr uint8_t kMd5Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x02, 0x05};
constexpr uint8_t kSha256Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

// SEQUENCE { OBJECT IDENTIFIER 1.3.6.1.4.1.311.2.1.15 (SPC PE image data), SEQUENCE { BIT STRING
// (empty), [0] { [2] { [0] IMPLICIT BMPString "<<<Obsolete>>>" } } } }
constexpr uint8_t kPeImageData[] = {
    0x30, 0x33, 0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0F, 0x30, 0x25, 0x03, 0x01,
    0x00, 0xA0, 0x20, 0xA2, 0x1E, 0x80, 0x1C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x3C, 0x00, 0x4F, 0x00, 0x62, 0x00,
    0x73, 0x00, 0x6F, 0x00, 0x6C, 0x00, 0x65, 0x00, 0x74, 0x00, 0x65, 0x00, 0x3E, 0x00, 0x3E, 0x00, 0x3E};

uint32_t HeaderLength(uint32_t length) {
    uint32_t digits = 0;
    for (uint32_t rest = length; rest; rest >>= 8) ++digits;
    return length < 0x80 ? 2 : 2 + digits;
}

}  // namespace

const DigestIdentifier kMd5DigestIdentifier{kMd5Oid, sizeof kMd5Oid, 16};
const DigestIdentifier kSha256DigestIdentifier{kSha256Oid, sizeof kSha256Oid, 32};

bool BuildIndirectDataContent(const DigestIdentifier& digest, const uint8_t* value, uint32_t length, Buffer& content,
                              uint32_t* header_length) {
    if (!value || length != digest.digest_length || length > 1024 || digest.oid_length > 64) return false;
    const uint32_t algorithm_length = digest.oid_length + 2;  // the OID and NULL
    const uint32_t algorithm_total = HeaderLength(algorithm_length) + algorithm_length;
    const uint32_t digest_info_length = algorithm_total + HeaderLength(length) + length;
    const uint32_t outer_length = sizeof kPeImageData + HeaderLength(digest_info_length) + digest_info_length;
    const uint8_t null_parameters[2] = {0x05, 0x00};

    content.Clear();
    const bool built = AppendDerHeader(content, 0x30, outer_length) && content.Append(kPeImageData, sizeof kPeImageData) &&
                       AppendDerHeader(content, 0x30, digest_info_length) && AppendDerHeader(content, 0x30, algorithm_length) &&
                       content.Append(digest.oid_der, digest.oid_length) &&
                       content.Append(null_parameters, sizeof null_parameters) && AppendDerHeader(content, 0x04, length) &&
                       content.Append(value, length);
    if (built && header_length) *header_length = HeaderLength(outer_length);
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
