// Base64 decoding of any text, against the decoding rules re-implemented here in a few lines:
// CR and LF skipped; groups of four; a group decodes its leading digits (v of them) into
// floor(6v/8) bytes and, when v < 4, is the last; a final short group decodes the same way.
// The decoded bytes, encoded again and decoded, come back unchanged.
#include <string>

#include "text/transform.h"
#include "fuzz_util.h"

using namespace ombrix;
using namespace ombrix::fuzz;

namespace {

int Digit(uint8_t c) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const size_t at = alphabet.find(static_cast<char>(c));
    return c != 0 && at != std::string::npos ? static_cast<int>(at) : -1;
}

// Appends the group's bytes; the number of leading digits.
size_t DecodeGroup(const std::string& group, Bytes& out) {
    size_t v = 0;
    uint32_t bits = 0;
    while (v < group.size() && Digit(static_cast<uint8_t>(group[v])) >= 0) {
        bits |= static_cast<uint32_t>(Digit(static_cast<uint8_t>(group[v]))) << (18 - 6 * v);
        ++v;
    }
    for (size_t i = 0; i < 6 * v / 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (16 - 8 * i)));
    return v;
}

Bytes Expected(const uint8_t* text, size_t size) {
    Bytes out;
    std::string group;
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '\r' || text[i] == '\n') continue;
        group.push_back(static_cast<char>(text[i]));
        if (group.size() < 4) continue;
        if (DecodeGroup(group, out) < 4) return out;
        group.clear();
    }
    if (!group.empty()) DecodeGroup(group, out);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    cryptBASE64 base64;
    const int code = DecodeWithData(base64, data, static_cast<uint32_t>(size));
    if (size == 0) {
        FUZZ_CHECK(code == 30000);
        return 0;
    }
    FUZZ_CHECK(code == 0);
    const Bytes decoded = BufferBytes(base64.output);
    FUZZ_CHECK(decoded == Expected(data, size));

    if (!decoded.empty()) {
        cryptBASE64 encoder;
        FUZZ_CHECK(EncodeWithData(encoder, decoded.data(), static_cast<uint32_t>(decoded.size())) == 0);
        FUZZ_CHECK(encoder.output.Length() == (decoded.size() + 2) / 3 * 4);
        const Bytes text = BufferBytes(encoder.output);
        cryptBASE64 decoder;
        FUZZ_CHECK(DecodeWithData(decoder, text.data(), static_cast<uint32_t>(text.size())) == 0);
        FUZZ_CHECK(BufferBytes(decoder.output) == decoded);
    }
    return 0;
}
