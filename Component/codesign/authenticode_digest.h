// The digest of an Authenticode signature: the image digest, the signer's digest algorithm, the
// message-digest attribute and the CryptoAPI hash of a store key all use it.
#pragma once

namespace ombrix {

enum class AuthenticodeDigest { kMd5, kSha1, kSha256, kSha384, kSha512 };

}  // namespace ombrix
