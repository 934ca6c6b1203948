// RawEncrypt followed by RawDecrypt gives the input back, for every reversible symmetric Type,
// mode, padding and compression, with key, IV and read size from the first input bytes.
#include "cipher_owner.h"

using namespace ombrix;
using namespace ombrix::fuzz;
namespace at = ombrix::algorithm_type;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    FuzzInput input(data, size);
    TestOwner owner;
    const CipherSettings settings = ReadSettings(input, owner);
    // Traditional crypt(3) is one-way.
    if (settings.type == at::kUNIXcrypt3) return 0;
    // Unix crypt chains over working blocks sized by the plaintext: with compression or a PKCS#7
    // block the decryption cannot find them again (the documented limit of that Type).
    if (settings.type == at::kUNIXcrypt && owner.mode != at::kModeECB &&
        (owner.compression || owner.padding == at::kPadPKCS7))
        return 0;
    const Bytes plain = input.Take(input.RestSize());
    if (plain.empty()) return 0;

    MemoryPort source(plain, settings.max_read), encrypted;
    auto encryptor = KeyedCipher(settings, owner);
    if (!encryptor) return 0;
    FUZZ_CHECK(encryptor->RawEncrypt(source, encrypted, false, &owner).IsOk());

    encrypted.position = 0;
    MemoryPort decrypted;
    auto decryptor = KeyedCipher(settings, owner);
    FUZZ_CHECK(decryptor != nullptr);
    const uint32_t read = 1 + (settings.max_read * 7) % 9000;
    MemoryPort cipher_text(encrypted.data, read);
    const Status code = decryptor->RawDecrypt(cipher_text, decrypted, 0, &owner);
    if (!code.IsOk()) fprintf(stderr, "RawDecrypt: %d\n", code.Value());
    FUZZ_CHECK(code.IsOk());
    FUZZ_CHECK(owner.null_log_lines == 0);

    const Bytes& back = decrypted.data;
    FUZZ_CHECK(back.size() >= plain.size());
    FUZZ_CHECK(std::equal(plain.begin(), plain.end(), back.begin()));
    if ((owner.padding == at::kPadPKCS7 && settings.type != at::kUNIXcrypt) || owner.compression != 0)
        FUZZ_CHECK(back.size() == plain.size());
    return 0;
}
