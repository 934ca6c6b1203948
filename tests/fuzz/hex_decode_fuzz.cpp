// Hex decoding of any text, against the decoding rules written out here independently: pairs of
// digits (either case) up to the first pair that is not hex; a single character left is ignored.
// Whatever decodes must encode back to the lower-case form of the digits it came from.
#include <cctype>
#include <string>

#include "text/transform.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

int Digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Bytes Expected(const uint8_t* text, size_t size, size_t* digits) {
    Bytes out;
    size_t i = 0;
    for (; i + 1 < size && Digit(text[i]) >= 0 && Digit(text[i + 1]) >= 0; i += 2)
        out.push_back(static_cast<uint8_t>(Digit(text[i]) * 16 + Digit(text[i + 1])));
    *digits = i;
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    cryptHEX hex;
    const int code = DecodeWithData(hex, data, static_cast<uint32_t>(size));
    if (size == 0) {
        FUZZ_CHECK(code == 30000);
        return 0;
    }
    FUZZ_CHECK(code == 0);
    size_t digits = 0;
    const Bytes expected = Expected(data, size, &digits);
    FUZZ_CHECK(BufferBytes(hex.output) == expected);
    // The zero byte the decoder leaves just past the result.
    FUZZ_CHECK(hex.output.Capacity() > hex.output.EndOffset() && hex.output.Array()[hex.output.EndOffset()] == 0);

    if (!expected.empty()) {
        cryptHEX again;
        FUZZ_CHECK(EncodeWithData(again, expected.data(), static_cast<uint32_t>(expected.size())) == 0);
        std::string lower(reinterpret_cast<const char*>(data), digits);
        for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        FUZZ_CHECK(std::string(reinterpret_cast<const char*>(again.output.Data()), again.output.Length()) == lower);
    }
    return 0;
}
