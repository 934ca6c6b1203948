// The OpenSSH public-key line ("ssh-rsa AAAA... comment") on any text, given to the RSA and DSA
// classes' SetKey. The crypto library's own Base64 decoder reads the field after the 8-character
// prefix: a line the RSA class accepts decodes there, and gives the key its decoded blob gives
// when taken directly; a field that does not decode is refused. The DSA class has no text form.
#include <openssl/evp.h>

#include <string>

#include "crypto/algorithm_types.h"
#include "crypto/asymmetric.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

constexpr size_t kPrefix = 8;  // "ssh-rsa "

struct KeyState {
    int32_t accepted;
    bool usable;
    bool has_private;
    int32_t block_size;
    bool operator==(const KeyState&) const = default;
};

KeyState Load(cryptASYMMETRIC& key, const uint8_t* bytes, size_t length) {
    const int32_t accepted = key.SetKey(bytes, static_cast<uint32_t>(length));
    return {accepted, key.KeyUsable(), key.HasPrivateKey(), accepted ? key.BlockSize() : 0};
}

// The Base64 field of a line (up to the first white space or zero byte) decoded by the library,
// with the padding the field leaves out restored. False when it is not Base64 the line form takes.
bool LibraryDecode(const uint8_t* text, size_t length, Bytes& decoded) {
    const uint8_t* const end = text + length;
    const uint8_t* stop = text;
    while (stop != end && *stop != ' ' && *stop != '\t' && *stop != '\r' && *stop != '\n' && *stop != 0) ++stop;
    size_t digits = static_cast<size_t>(stop - text);
    size_t padding = 0;
    while (digits > 0 && text[digits - 1] == '=') --digits, ++padding;
    // Padding ends the field; at most two characters of it.
    if (padding > 2 || digits % 4 == 1 || memchr(text, '=', digits)) return false;
    std::string field(reinterpret_cast<const char*>(text), digits);
    const size_t missing = (4 - digits % 4) % 4;
    field.append(missing, '=');
    decoded.resize(field.size() / 4 * 3);
    const int n = EVP_DecodeBlock(decoded.data(), reinterpret_cast<const uint8_t*>(field.data()),
                                  static_cast<int>(field.size()));
    // The library also takes white space around the text, which the field never holds.
    if (n < 0 || static_cast<size_t>(n) != decoded.size()) return false;
    decoded.resize(decoded.size() - missing);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const bool line_form = size > kPrefix && memcmp(data, "ssh-", 4) == 0;

    // The DSA class reads every text as a blob: the "ssh-" of a line is a length no input holds.
    cryptDSS dsa;
    if (line_form) {
        FUZZ_CHECK(dsa.SetKey(data, static_cast<uint32_t>(size)) == 0);
        FUZZ_CHECK(!dsa.KeyUsable() && !dsa.HasPrivateKey());
    }

    cryptRSA rsa;
    const KeyState line = Load(rsa, data, size);
    if (!line_form) return 0;  // a blob, which rsa_setkey covers
    if (!line.accepted) FUZZ_CHECK(!rsa.KeyUsable() && !rsa.HasPrivateKey());

    Bytes blob;
    if (!LibraryDecode(data + kPrefix, size - kPrefix, blob) || blob.empty()) {
        FUZZ_CHECK(!line.accepted);
        return 0;
    }
    // A decoded blob that is itself a line would be read as text when given directly; behind a
    // line it is a blob whose type string announces more bytes than it holds.
    if (blob.size() > kPrefix && memcmp(blob.data(), "ssh-", 4) == 0) {
        FUZZ_CHECK(!line.accepted);
        return 0;
    }
    cryptRSA direct;
    const KeyState expected = Load(direct, blob.data(), blob.size());
    FUZZ_CHECK(line == expected);

    // The same key: a signature either one makes verifies under both alike. (The signatures
    // themselves may differ: blinding makes signing random for a key whose values disagree.)
    // Kept to small moduli so that a run stays short.
    if (line.usable && line.has_private && line.block_size <= 64) {
        static const uint8_t kMessage[] = "line";
        for (cryptRSA* signer : {&rsa, &direct}) {
            auto signature = signer->SignData(kMessage, sizeof kMessage, algorithm_type::kRSASHA1);
            if (!signature) continue;
            FUZZ_CHECK(rsa.VerifyData(kMessage, sizeof kMessage, signature->Data(), signature->Length(),
                                      algorithm_type::kRSASHA1) ==
                       direct.VerifyData(kMessage, sizeof kMessage, signature->Data(), signature->Length(),
                                         algorithm_type::kRSASHA1));
        }
    }
    return 0;
}
