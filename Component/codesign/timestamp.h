// The time-stamp client: sends the signature of a SignedData to a time-stamp server over HTTP
// and adds the server's certificates and countersignature to it.
#pragma once

#include <cstdint>
#include <string>

#include "base/buffer.h"
#include "codesign/authenticode_digest.h"
#include "codesign/http_exchange.h"

struct pkcs7_st;  // the crypto library's PKCS7

namespace ombrix {

// One time-stamp protocol: what is posted and how the answer is merged.
class TimestampProtocol {
public:
    virtual ~TimestampProtocol() = default;
    virtual const char* ContentType() const = 0;
    virtual const char* Accept() const = 0;
    // The request body for the signature value of the first signer of `signed_data`.
    virtual bool BuildRequest(pkcs7_st* signed_data, Buffer& body) = 0;
    // Checks the response body and merges it into `signed_data`. On failure the signed data has
    // not been changed.
    virtual bool MergeResponse(pkcs7_st* signed_data, const std::string& body) = 0;
};

// The legacy Authenticode protocol: the Base64 of a DER SpcTimeStampRequest carrying the signature
// value; the answer is the Base64 of a PKCS#7 SignedData whose certificates (last to first) and
// first signer info (as a countersignature attribute) go into the caller's SignedData.
class AuthenticodeTimestampProtocol final : public TimestampProtocol {
public:
    const char* ContentType() const override { return "application/octet-stream"; }
    const char* Accept() const override { return "application/octet-stream"; }
    bool BuildRequest(pkcs7_st* signed_data, Buffer& body) override;
    bool MergeResponse(pkcs7_st* signed_data, const std::string& body) override;
};

// RFC 3161: a TimeStampReq (version 1, the imprint of the signature value in the signature's
// digest, a random nonce, certReq true) posted as application/timestamp-query; the reply must
// grant the request and carry a token that is a SignedData of a TSTInfo with the same imprint and
// nonce. The token goes unchanged into the unsigned attribute 1.3.6.1.4.1.311.3.3.1.
class Rfc3161TimestampProtocol final : public TimestampProtocol {
public:
    explicit Rfc3161TimestampProtocol(AuthenticodeDigest digest) : digest_(digest) {}
    const char* ContentType() const override { return "application/timestamp-query"; }
    const char* Accept() const override { return "application/timestamp-reply"; }
    bool BuildRequest(pkcs7_st* signed_data, Buffer& body) override;
    bool MergeResponse(pkcs7_st* signed_data, const std::string& body) override;

    // The DER TimeStampReq for an imprint and a nonce (DER INTEGER content bytes).
    static bool EncodeRequest(AuthenticodeDigest digest, const Buffer& imprint, const uint8_t nonce[8], Buffer& der);
    // Checks a TimeStampResp against the imprint and nonce; the token's DER (a ContentInfo) on success.
    static bool TakeToken(const std::string& response, AuthenticodeDigest digest, const Buffer& imprint,
                          const uint8_t nonce[8], Buffer& token);

private:
    AuthenticodeDigest digest_;
    Buffer imprint_;
    uint8_t nonce_[8] = {};
};

// The DER SpcTimeStampRequest for a signature value, encoded through the bound library's item
// types. False when encoding fails.
bool EncodeTimestampRequest(const uint8_t* signature, uint32_t length, Buffer& der);
// Base64 through the library's filter with its default line breaking: 64-character lines, each
// ending in a line feed.
bool EncodeBase64Lines(const uint8_t* bytes, uint32_t length, Buffer& text);

// Sends the time-stamp request for `signed_data` (already signed) to `url` and merges the answer.
// 0 on success, 1 on any failure (the caller reports 30017). The last form uses the legacy
// protocol for MD5 signatures and RFC 3161 for the others, with the process's limits.
int RequestTimestamp(pkcs7_st* signed_data, const std::string& url, TimestampProtocol& protocol,
                     const HttpExchangeLimits& limits);
int RequestTimestamp(pkcs7_st* signed_data, const std::string& url,
                     AuthenticodeDigest digest = AuthenticodeDigest::kMd5);

// The limits RequestTimestamp(signed_data, url) uses: a 60-second deadline and a 1 MiB response.
HttpExchangeLimits ProcessTimestampLimits();
// Test seam: changes those limits (tests lower the deadline).
void SetTimestampLimitsForTesting(const HttpExchangeLimits& limits);

}  // namespace ombrix
