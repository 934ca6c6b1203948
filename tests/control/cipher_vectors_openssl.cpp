// RC2 computed directly by the linked crypto library, for comparison with the control. Kept in a
// file of its own: the library's headers and the control's type library declare clashing names.
//
// The library's EVP interface offers RC2 only through its legacy provider, which the static
// library does not contain, so this uses the RC2 functions themselves.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc2.h>

#include <cstdint>
#include <vector>

namespace reference {

// RC2 ECB encryption of whole 8-byte blocks with an effective key length of 8 bits.
std::vector<uint8_t> Rc2EcbEffective8(const std::vector<uint8_t>& key, const std::vector<uint8_t>& data) {
    RC2_KEY schedule;
    RC2_set_key(&schedule, static_cast<int>(key.size()), key.data(), 8);
    std::vector<uint8_t> out(data.size());
    for (size_t i = 0; i + 8 <= data.size(); i += 8) RC2_ecb_encrypt(&data[i], &out[i], &schedule, RC2_ENCRYPT);
    return out;
}

}  // namespace reference
