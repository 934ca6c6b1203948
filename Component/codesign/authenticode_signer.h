// Authenticode signing of a Windows executable image: the image digest, the PKCS#7 SignedData
// over the indirect-data content with its signed attributes, the optional time stamp, and the
// signed image with its certificate table. Nothing is written until the signature (and the time
// stamp) exist; a failure while writing cuts the output back to where it started.
#pragma once

#include <cstdint>
#include <string>

#include "base/buffer.h"
#include "codesign/authenticode_digest.h"
#include "crypto/blob_port.h"

namespace ombrix {

// A private key that stays in the platform's key store: signs a digest with PKCS#1 v1.5.
class StoreKeySigner {
public:
    virtual ~StoreKeySigner() = default;
    // The signature of `value` (a digest of kind `digest`), most significant byte first, into
    // `signature`. False on failure.
    virtual bool Sign(AuthenticodeDigest digest, const uint8_t* value, uint32_t length, Buffer& signature) = 0;
};

struct AuthenticodeRequest {
    std::string certificate_pem;     // the signer's certificate
    std::string private_key_pem;     // used when store_key is null
    StoreKeySigner* store_key = nullptr;
    AuthenticodeDigest digest = AuthenticodeDigest::kMd5;
    std::string timestamp_url;       // empty: no time stamp; RFC 3161 for every digest but MD5
    std::string description;         // program description (ANSI)
    std::string url;                 // program URL (ANSI)
};

// The DER of the opus information for a description and a URL, both present even when empty:
// SEQUENCE { [0] { [0] IMPLICIT BMPString description }, [1] { [0] IMPLICIT IA5String url } }.
bool BuildOpusInfo(const std::string& description, const std::string& url, Buffer& der);

// Signs the image in `data` (read from its start) into `out` (written from its current position).
// An MD5 signature leaves the header checksum zero; the others write the image's checksum.
// Ok on success; the codes 30013 not an image, 30014 already signed, 30015 certificate or key
// unusable or not matching, 30002 signing failed, 30017 time stamp failed, 30009 a read failed or
// the data changed while it was copied; or the output blob's own failure.
Status SignImage(BlobPort& data, BlobPort& out, const AuthenticodeRequest& request);

}  // namespace ombrix
