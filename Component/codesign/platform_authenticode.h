// The platform's side of Authenticode: signing with a key held in the certificate store through
// CryptoAPI, and verifying a signed image with the image-certificate functions, CryptoAPI and
// the trust provider.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdint>

#include "codesign/authenticode_signer.h"
#include "codesign/certificate_table.h"
#include "crypto/blob_port.h"

namespace ombrix {

// Signs digests with the private key that CryptoAPI reaches through a certificate context. SHA-2
// digests are signed through the AES provider type, which has them, with the same key container.
class CryptoApiSigner final : public StoreKeySigner {
public:
    explicit CryptoApiSigner(PCCERT_CONTEXT context) : context_(context) {}
    bool Sign(AuthenticodeDigest digest, const uint8_t* value, uint32_t length, Buffer& signature) override;

private:
    PCCERT_CONTEXT context_;
};

// The trust verification of an open image file: the platform's result and its last error.
struct TrustVerdict {
    LONG result;
    DWORD last_error;
};
using TrustVerifier = TrustVerdict (*)(HANDLE file);

// The generic Authenticode policy without user interface or revocation checks (WinVerifyTrust).
TrustVerdict VerifyTrustOfFile(HANDLE file);
// Test seam: replaces the trust verification (null restores the platform's).
void SetTrustVerifierForTesting(TrustVerifier verifier);

// The error code for a trust verdict: 0 for success, a code of 31000-31027, or -1 for a result
// the table does not list (the caller returns E_FAIL without an error report).
int32_t TrustResultCode(const TrustVerdict& verdict);

// Writes the blob's bytes from its position to its end to a temporary file, takes its one
// certificate-table entry, verifies the PKCS#7 signature in it and the trust of the file.
// Returns 0 or an error code (-1 as above); `signer` receives the signer's certificate whenever
// the signature yielded one, also when the trust verification then failed.
int32_t ExtractAndVerify(BlobPort& data, CertContext& signer);

}  // namespace ombrix
