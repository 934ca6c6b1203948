// Bytes, hex text and seeded random data for the test programs. Plain C++: the native sanitizer
// build compiles the engine's tests with it as well (COM helpers are in test_util.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace test {

using Bytes = std::vector<uint8_t>;

// The bytes that pairs of hex digits (either case) stand for; a last unpaired digit is ignored.
inline Bytes FromHex(std::string_view hex) {
    const auto nibble = [](char c) -> uint8_t {
        if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
        if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
        throw std::invalid_argument("not a hex digit in test data: " + std::string(1, c));
    };
    Bytes bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    return bytes;
}

// Two lower-case hex digits a byte.
inline std::string ToHex(const uint8_t* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}
inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }

// Each element of `bytes` (uint8_t or char) from the low byte of the generator's next number.
template <class Container>
void FillRandom(Container& bytes, std::mt19937& generator) {
    for (auto& b : bytes) b = static_cast<typename Container::value_type>(generator());
}

// `n` bytes that depend only on `seed`.
inline Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(n);
    FillRandom(bytes, generator);
    return bytes;
}

}  // namespace test
