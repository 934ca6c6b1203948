// Digests and HMACs computed directly by the linked OpenSSL, an implementation independent of
// the engine's own SHA-2, MD5 and CRC code. Kept in a file of its own, apart from the engine's
// headers, so that the library's names meet nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

// `name` is an OpenSSL digest name: "MD5", "SHA1", "SHA256", "SHA384", "SHA512".
std::vector<uint8_t> Digest(const char* name, const uint8_t* data, size_t size);
std::vector<uint8_t> Hmac(const char* name, const std::vector<uint8_t>& key, const std::vector<uint8_t>& data);

}  // namespace reference
