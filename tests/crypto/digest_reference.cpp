#include "digest_reference.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace reference {

std::vector<uint8_t> Digest(const char* name, const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    static const uint8_t kNothing = 0;
    if (!EVP_Digest(size ? data : &kNothing, size, out.data(), &length, EVP_get_digestbyname(name), nullptr)) return {};
    out.resize(length);
    return out;
}

std::vector<uint8_t> Hmac(const char* name, const std::vector<uint8_t>& key, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    static const uint8_t kNothing = 0;
    if (!HMAC(EVP_get_digestbyname(name), key.empty() ? &kNothing : key.data(), static_cast<int>(key.size()),
              data.empty() ? &kNothing : data.data(), data.size(), out.data(), &length))
        return {};
    out.resize(length);
    return out;
}

}  // namespace reference
