// RawDecrypt of any bytes for every symmetric Type, mode, padding and compression, with key,
// IV, read size and length limit taken from the first input bytes. Damaged input ends in a
// result or an error code, never in a fault.
#include "cipher_owner.h"

using namespace ombrix;
using namespace ombrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    FuzzInput input(data, size);
    TestOwner owner;
    const CipherSettings settings = ReadSettings(input, owner);
    const uint8_t limit_choice = input.Byte();
    const uint64_t length_limit = limit_choice & 1 ? input.Word() % 100000 : 0;
    MemoryPort in(input.Take(input.RestSize()), settings.max_read);
    MemoryPort out;
    auto cipher = KeyedCipher(settings, owner);
    if (!cipher) return 0;
    const Status code = cipher->RawDecrypt(in, out, length_limit, limit_choice & 2 ? &owner : nullptr);
    FUZZ_CHECK(!code.IsFailure());
    FUZZ_CHECK(owner.null_log_lines == 0);
    // Decompression may expand, but without it the output never outgrows the input by more
    // than one working block.
    if (code.IsOk() && owner.compression == 0)
        FUZZ_CHECK(out.data.size() <= in.data.size() + static_cast<size_t>(std::max(cipher->WorkingLength(), 1024)) * 2);
    return 0;
}
