#include "text/transform.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base/error_codes.h"

using ombrix::Buffer;
using ombrix::cryptBASE64;
using ombrix::cryptHEX;
using ombrix::cryptTRANSFORM;

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Content(const Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Length());
}

int EncodeText(cryptTRANSFORM& transform, std::string_view data) {
    return ombrix::EncodeWithData(transform, reinterpret_cast<const uint8_t*>(data.data()),
                                  static_cast<uint32_t>(data.size()));
}

int DecodeText(cryptTRANSFORM& transform, std::string_view text) {
    return ombrix::DecodeWithData(transform, reinterpret_cast<const uint8_t*>(text.data()),
                                  static_cast<uint32_t>(text.size()));
}

// The output of a successful encode, or a marker that cannot be mistaken for one.
std::string Encoded(cryptTRANSFORM& transform, std::string_view data) {
    const int result = EncodeText(transform, data);
    return result == 0 ? Content(transform.output) : "<error " + std::to_string(result) + ">";
}

std::string Decoded(cryptTRANSFORM& transform, std::string_view text) {
    const int result = DecodeText(transform, text);
    return result == 0 ? Content(transform.output) : "<error " + std::to_string(result) + ">";
}

// A textbook Base64 decoder for text made only of digits: six bits per digit into an
// accumulator, a byte out whenever eight bits are there.
std::string ReferenceBase64Decode(std::string_view digits) {
    std::string bytes;
    uint32_t bits = 0;
    int held = 0;
    for (char digit : digits) {
        bits = ((bits << 6) | static_cast<uint32_t>(kAlphabet.find(digit))) & 0xFFFFFF;
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    return bytes;
}

bool IsBase64Digit(char c) { return kAlphabet.find(c) != std::string_view::npos; }

// ---------------------------------------------------------------------------------------------
// Identity transform

TEST(IdentityTransform, AppendsInputToOutputAndClearsInput) {
    cryptTRANSFORM identity;
    const std::string binary("a\0b\xff", 4);
    ASSERT_EQ(EncodeText(identity, binary), 0);
    EXPECT_EQ(Content(identity.output), binary);
    EXPECT_EQ(identity.input.Length(), 0u);
    // The output is appended to, not replaced.
    ASSERT_EQ(DecodeText(identity, "cd"), 0);
    EXPECT_EQ(Content(identity.output), binary + "cd");
    EXPECT_EQ(identity.input.Length(), 0u);
}

TEST(IdentityTransform, EmptyInputSucceedsWithoutChange) {
    cryptTRANSFORM identity;
    identity.output.Append("kept", 4);
    EXPECT_EQ(EncodeText(identity, ""), 0);
    EXPECT_EQ(DecodeText(identity, ""), 0);
    EXPECT_EQ(Content(identity.output), "kept");
}

TEST(IdentityTransform, OverridesAreCalledThroughTheBase) {
    cryptHEX hex;
    cryptBASE64 base64;
    cryptTRANSFORM& as_hex = hex;
    cryptTRANSFORM& as_base64 = base64;
    EXPECT_EQ(Encoded(as_hex, "foo"), "666f6f");
    EXPECT_EQ(Encoded(as_base64, "foo"), "Zm9v");
}

// ---------------------------------------------------------------------------------------------
// Entry functions

TEST(TransformEntry, EmptyInputIsReportedByEveryConversion) {
    cryptHEX hex;
    cryptBASE64 base64;
    for (cryptTRANSFORM* transform : {static_cast<cryptTRANSFORM*>(&hex), static_cast<cryptTRANSFORM*>(&base64)}) {
        EXPECT_EQ(EncodeText(*transform, ""), ombrix::kErrNoInputText);
        EXPECT_EQ(DecodeText(*transform, ""), ombrix::kErrNoInputText);
        EXPECT_EQ(transform->Encode(), ombrix::kErrNoInputText);
        EXPECT_EQ(transform->Decode(), ombrix::kErrNoInputText);
        // A null pointer is no input, whatever the count says.
        EXPECT_EQ(ombrix::EncodeWithData(*transform, nullptr, 5), ombrix::kErrNoInputText);
        EXPECT_EQ(ombrix::DecodeWithData(*transform, nullptr, 5), ombrix::kErrNoInputText);
    }
}

TEST(TransformEntry, LeavesAZeroBytePastTheResult) {
    cryptHEX hex;
    cryptBASE64 base64;
    // Earlier, longer content must not show through after a shorter result.
    ASSERT_EQ(Encoded(hex, std::string(300, 'x')).size(), 600u);
    ASSERT_EQ(DecodeText(hex, "6162zz6364"), 0);
    EXPECT_EQ(Content(hex.output), "ab");
    EXPECT_EQ(hex.output.Data()[hex.output.Length()], 0);
    ASSERT_EQ(Encoded(base64, std::string(300, 'y')).size(), 400u);
    ASSERT_EQ(EncodeText(base64, "f"), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(base64.output.Data()), "Zg==");
}

TEST(TransformEntry, EachCallStartsFromItsOwnBytesOnly) {
    cryptHEX hex;
    cryptBASE64 base64;
    hex.input.Append("stale", 5);
    EXPECT_EQ(Encoded(hex, "\x01"), "01");
    EXPECT_EQ(Encoded(hex, "\x02\x03"), "0203");
    EXPECT_EQ(Decoded(hex, "ff"), "\xff");
    base64.input.Append("stale", 5);
    EXPECT_EQ(Encoded(base64, "foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encoded(base64, "f"), "Zg==");
    EXPECT_EQ(Decoded(base64, "Zm8="), "fo");
}

// ---------------------------------------------------------------------------------------------
// Hex

TEST(HexTransform, Rfc4648Base16Vectors) {
    const std::map<std::string, std::string> vectors = {
        {"f", "66"}, {"fo", "666F"}, {"foo", "666F6F"}, {"foob", "666F6F62"},
        {"fooba", "666F6F6261"}, {"foobar", "666F6F626172"}};
    cryptHEX hex;
    for (const auto& [data, upper] : vectors) {
        std::string lower = upper;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(Encoded(hex, data), lower) << data;
        EXPECT_EQ(Decoded(hex, upper), data) << upper;
        EXPECT_EQ(Decoded(hex, lower), data) << lower;
    }
}

TEST(HexTransform, EveryByteValueIsTwoLowerCaseDigits) {
    std::string all;
    std::string expected;
    for (int value = 0; value < 256; ++value) {
        all += static_cast<char>(value);
        char pair[3];
        snprintf(pair, sizeof pair, "%02x", value);
        expected += pair;
    }
    cryptHEX hex;
    EXPECT_EQ(Encoded(hex, all), expected);
    EXPECT_EQ(Decoded(hex, expected), all);
    EXPECT_EQ(hex.input.Length(), 0u);
}

TEST(HexTransform, UpperLowerAndMixedCaseDecodeAlike) {
    cryptHEX hex;
    EXPECT_EQ(Decoded(hex, "abcdef"), "\xab\xcd\xef");
    EXPECT_EQ(Decoded(hex, "ABCDEF"), "\xab\xcd\xef");
    EXPECT_EQ(Decoded(hex, "aBcDeF"), "\xab\xcd\xef");
    EXPECT_EQ(Decoded(hex, "AbCdEf"), "\xab\xcd\xef");
}

TEST(HexTransform, MalformedInputStopsDecodingWithoutError) {
    cryptHEX hex;
    EXPECT_EQ(Decoded(hex, "41424"), "AB");          // odd length: last character ignored
    EXPECT_EQ(Decoded(hex, "4"), "");                // a single character yields nothing
    EXPECT_EQ(Decoded(hex, "41 42"), "A");           // a space ends decoding after the first pair
    EXPECT_EQ(Decoded(hex, "zz4142"), "");           // first pair not hex
    EXPECT_EQ(Decoded(hex, "4g42"), "");             // second digit of the first pair not hex
    EXPECT_EQ(Decoded(hex, "0x41"), "");             // prefixes are not understood
    EXPECT_EQ(Decoded(hex, "41\r\n42"), "A");        // line breaks are not skipped
    EXPECT_EQ(Decoded(hex, "41-42"), "A");
    EXPECT_EQ(Decoded(hex, std::string_view("41\0" "042", 5)), "A");  // a zero character
    EXPECT_EQ(Decoded(hex, "\xc1\xc2"), "");         // bytes above 0x7F
}

TEST(HexTransform, ReadsOnlyTheInputWindow) {
    cryptHEX hex;
    // The array holds "x41", the window only "4".
    hex.input.Append("x41", 3);
    hex.input.Consume(1);
    hex.input.ConsumeEnd(1);
    ASSERT_EQ(hex.input.Length(), 1u);
    ASSERT_EQ(hex.Decode(), 0);
    EXPECT_EQ(Content(hex.output), "");
    hex.input.Clear();
    hex.input.Append("zz6162", 6);
    hex.input.Consume(2);
    ASSERT_EQ(hex.Decode(), 0);
    EXPECT_EQ(Content(hex.output), "ab");
}

// ---------------------------------------------------------------------------------------------
// Base64

TEST(Base64Transform, Rfc4648Vectors) {
    const std::map<std::string, std::string> vectors = {
        {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}};
    cryptBASE64 base64;
    for (const auto& [data, text] : vectors) {
        EXPECT_EQ(Encoded(base64, data), text) << data;
        EXPECT_EQ(Decoded(base64, text), data) << text;
    }
}

TEST(Base64Transform, LongOutputStaysOnOneLine) {
    cryptBASE64 base64;
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 7);
    const std::string text = Encoded(base64, data);
    EXPECT_EQ(text.size(), 1336u);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "==");  // 1000 = 3 * 333 + 1
    EXPECT_EQ(Decoded(base64, text), data);
}

TEST(Base64Transform, LineBreaksAreSkippedAnywhere) {
    cryptBASE64 base64;
    EXPECT_EQ(Decoded(base64, "Zm9v\r\nYmFy"), "foobar");         // between groups
    EXPECT_EQ(Decoded(base64, "Zm\r\n9vYm\nFy"), "foobar");       // inside groups
    EXPECT_EQ(Decoded(base64, "Zm9vYmFy\r\n"), "foobar");         // at the end
    EXPECT_EQ(Decoded(base64, "\r\n\nZ\rm\n9\r\nv\r"), "foo");    // everywhere
    EXPECT_EQ(Decoded(base64, "Zm9vYg=\r\n="), "foob");           // inside the padding
    EXPECT_EQ(Decoded(base64, "\r\n"), "");
}

TEST(Base64Transform, FinalGroupWithoutPadding) {
    cryptBASE64 base64;
    EXPECT_EQ(Decoded(base64, "Zm9vYg"), "foob");    // two digits: one byte
    EXPECT_EQ(Decoded(base64, "Zm9vYmE"), "fooba");  // three digits: two bytes
    EXPECT_EQ(Decoded(base64, "Zm9vY"), "foo");      // a single digit: nothing
    EXPECT_EQ(Decoded(base64, "Zm9vYmE\r\n"), "fooba");
    EXPECT_EQ(Decoded(base64, "Zg"), "f");
    EXPECT_EQ(Decoded(base64, "Z"), "");
}

TEST(Base64Transform, DecodingEndsAtTheFirstGroupThatIsNotFourDigits) {
    cryptBASE64 base64;
    // A space after a complete group: the next group has no leading digits.
    EXPECT_EQ(Decoded(base64, "Zm9v YmFy"), "foo");
    // The group holding the space gives the bytes of its leading digits, then nothing is read.
    EXPECT_EQ(Decoded(base64, "Zm9vYm FyZm9v"), "foob");
    EXPECT_EQ(Decoded(base64, "Zm9vYmF yZm9v"), "fooba");
    // Four padding characters after a complete group.
    EXPECT_EQ(Decoded(base64, "Zm9v===="), "foo");
    EXPECT_EQ(Decoded(base64, "Zm9v====Zm9v"), "foo");
    // Padding ends the text even when more follows.
    EXPECT_EQ(Decoded(base64, "Zg==Zm9v"), "f");
    EXPECT_EQ(Decoded(base64, "Zm8=Zm9v"), "fo");
    // Characters outside the alphabet: tab, URL-safe digits, a zero character, high bytes.
    EXPECT_EQ(Decoded(base64, "Zm9v\tYmFy"), "foo");
    EXPECT_EQ(Decoded(base64, "Zm9v-_8A"), "foo");
    EXPECT_EQ(Decoded(base64, std::string_view("Zm9vY\0Fy", 8)), "foo");
    EXPECT_EQ(Decoded(base64, "Zm9v\xd0\x9f"), "foo");
    // Nothing decodable at all is still a success.
    EXPECT_EQ(Decoded(base64, "===="), "");
    EXPECT_EQ(Decoded(base64, "@"), "");
    // Bits beyond the last whole byte are dropped, not checked.
    EXPECT_EQ(Decoded(base64, "Zh=="), "f");
}

TEST(Base64Transform, ReadsOnlyTheInputWindow) {
    cryptBASE64 base64;
    // The array holds "xxQUJD", the window "QUJ": a final group of three digits.
    base64.input.Append("xxQUJD", 6);
    base64.input.Consume(2);
    base64.input.ConsumeEnd(1);
    ASSERT_EQ(base64.Decode(), 0);
    EXPECT_EQ(Content(base64.output), "AB");
    base64.input.Clear();
    base64.input.Append("QUJD", 4);
    base64.input.ConsumeEnd(1);
    ASSERT_EQ(base64.Encode(), 0);
    EXPECT_EQ(Content(base64.output), "UVVK");  // Base64 of "QUJ"
}

// Decoded sizes around the staging area's 512-byte flush and 1024-byte size.
TEST(Base64Transform, DecodesAcrossTheStagingArea) {
    std::mt19937 random(512);
    cryptBASE64 base64;
    for (uint32_t size : {509u, 510u, 511u, 512u, 513u, 514u, 515u, 516u, 700u, 1021u, 1023u, 1024u, 1025u,
                          1026u, 1539u, 5000u}) {
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(random());
        const std::string text = Encoded(base64, data);
        EXPECT_EQ(Decoded(base64, text), data) << size;
        // The same text ending early at group g yields exactly the bytes of the g groups before.
        for (uint32_t group : {170u, 171u, 172u, 173u, 341u, 342u, 343u, 1000u}) {
            if (group * 4 >= text.size()) continue;
            std::string cut = text;
            cut[group * 4] = ' ';
            EXPECT_EQ(Decoded(base64, cut), data.substr(0, group * 3)) << size << " " << group;
        }
    }
}

// Lengths that make the encoder write its input in several pieces.
TEST(Base64Transform, EncodesInputLargerThanOneWritePiece) {
    constexpr uint32_t kPiece = cryptBASE64::kEncodePiece;
    cryptBASE64 base64;
    std::mt19937 random(7);
    for (uint32_t size : {kPiece - 1, kPiece, kPiece + 1, 2 * kPiece + 2, 5 * kPiece + 100}) {
        // A repeating three-byte pattern encodes to a repeating four-digit group.
        std::string data;
        for (uint32_t i = 0; i < size; ++i) data += "abc"[i % 3];
        const std::string text = Encoded(base64, data);
        ASSERT_EQ(text.size(), (uint64_t{size} + 2) / 3 * 4) << size;
        for (uint32_t at = 0; at + 4 <= size / 3 * 4; at += 4) {
            if (text.compare(at, 4, "YWJj") != 0) {
                ADD_FAILURE() << "size " << size << ": group at " << at << " is " << text.substr(at, 4);
                break;
            }
        }
        EXPECT_EQ(text.substr(size / 3 * 4), size % 3 == 0 ? "" : size % 3 == 1 ? "YQ==" : "YWI=") << size;
        EXPECT_EQ(Decoded(base64, text), data) << size;
    }
}

// ---------------------------------------------------------------------------------------------
// Cross-check with Python's binascii.hexlify, base64.b64encode and base64.encodebytes

struct PythonCase {
    std::string input, hex, b64, mime, mimecrlf;
};

// Records of fields "<name> <length>\n<bytes>\n" written by make_transform_vectors.py.
std::vector<PythonCase> ReadPythonCases(const char* path) {
    std::ifstream file(path, std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<PythonCase> cases;
    size_t at = 0;
    auto next_field = [&](const char* name, std::string& value) {
        const size_t space = all.find(' ', at);
        const size_t line_end = all.find('\n', at);
        if (space == std::string::npos || line_end == std::string::npos || all.compare(at, space - at, name) != 0)
            return false;
        const size_t length = std::strtoul(all.c_str() + space + 1, nullptr, 10);
        if (line_end + 1 + length + 1 > all.size()) return false;
        value = all.substr(line_end + 1, length);
        at = line_end + 1 + length + 1;
        return true;
    };
    while (at < all.size()) {
        PythonCase one;
        if (!next_field("input", one.input) || !next_field("hex", one.hex) || !next_field("b64", one.b64) ||
            !next_field("mime", one.mime) || !next_field("mimecrlf", one.mimecrlf)) {
            ADD_FAILURE() << "malformed record at offset " << at << " of " << path;
            break;
        }
        cases.push_back(std::move(one));
    }
    return cases;
}

TEST(TransformCrossCheck, AgreesWithPython) {
    const std::vector<PythonCase> cases = ReadPythonCases(TRANSFORM_VECTORS_PATH);
    ASSERT_GE(cases.size(), 270u) << "test vectors missing: " << TRANSFORM_VECTORS_PATH;
    cryptHEX hex;
    cryptBASE64 base64;
    for (const PythonCase& one : cases) {
        const std::string name = "input of " + std::to_string(one.input.size()) + " bytes";
        EXPECT_EQ(Encoded(hex, one.input), one.hex) << name;
        EXPECT_EQ(Decoded(hex, one.hex), one.input) << name;
        std::string upper = one.hex;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(Decoded(hex, upper), one.input) << name;

        EXPECT_EQ(Encoded(base64, one.input), one.b64) << name;
        EXPECT_EQ(Decoded(base64, one.b64), one.input) << name;
        EXPECT_EQ(Decoded(base64, one.mime), one.input) << name;
        EXPECT_EQ(Decoded(base64, one.mimecrlf), one.input) << name;
        const std::string unpadded = one.b64.substr(0, one.b64.find('='));
        EXPECT_EQ(Decoded(base64, unpadded), one.input) << name;
    }
}

// ---------------------------------------------------------------------------------------------
// Random malformed input: no failure, and only the bytes the rules allow

TEST(TransformGarbage, HexYieldsTheLeadingHexPairs) {
    std::mt19937 random(0x4845);
    const std::string_view hex_digits = "0123456789abcdefABCDEF";
    cryptHEX hex;
    for (int round = 0; round < 5000; ++round) {
        std::string text(1 + random() % 40, '\0');
        for (char& c : text)
            c = random() % 10 < 8 ? hex_digits[random() % hex_digits.size()] : static_cast<char>(random());
        std::string expected;
        for (size_t at = 0; at + 2 <= text.size(); at += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(text[at])) ||
                !std::isxdigit(static_cast<unsigned char>(text[at + 1])))
                break;
            expected += static_cast<char>(std::strtoul(text.substr(at, 2).c_str(), nullptr, 16));
        }
        ASSERT_EQ(DecodeText(hex, text), 0) << text;
        ASSERT_EQ(Content(hex.output), expected) << text;
        ASSERT_EQ(hex.output.Data()[hex.output.Length()], 0);
    }
}

TEST(TransformGarbage, Base64YieldsTheDigitsReachedBeforeTheFirstIncompleteGroup) {
    std::mt19937 random(0xB64);
    const std::string_view noise = "=\r\n \t-_.";
    cryptBASE64 base64;
    for (int round = 0; round < 10000; ++round) {
        std::string text(1 + random() % 60, '\0');
        for (char& c : text) {
            const uint32_t pick = random() % 100;
            c = pick < 80 ? kAlphabet[random() % 64]
                : pick < 95 ? noise[random() % noise.size()]
                            : static_cast<char>(random());
        }
        // The digits the decoder reaches, with line breaks left out: whole groups of four
        // digits, then the leading digits of the first group that is not one.
        std::string stripped;
        for (char c : text)
            if (c != '\r' && c != '\n') stripped += c;
        std::string reached;
        for (size_t at = 0;; at += 4) {
            const std::string group = stripped.substr(std::min(at, stripped.size()), 4);
            size_t digits = 0;
            while (digits < group.size() && IsBase64Digit(group[digits])) ++digits;
            reached += group.substr(0, digits);
            if (digits < 4) break;
        }
        ASSERT_EQ(DecodeText(base64, text), 0) << text;
        ASSERT_EQ(Content(base64.output), ReferenceBase64Decode(reached)) << text;
        ASSERT_EQ(base64.output.Data()[base64.output.Length()], 0);
    }
}

TEST(TransformGarbage, RandomBytesRoundTrip) {
    std::mt19937 random(0x5EED);
    cryptHEX hex;
    cryptBASE64 base64;
    for (int round = 0; round < 3000; ++round) {
        std::string data(1 + random() % 100, '\0');
        for (char& c : data) c = static_cast<char>(random());
        ASSERT_EQ(Decoded(hex, Encoded(hex, data)), data);
        ASSERT_EQ(Decoded(base64, Encoded(base64, data)), data);
    }
}

// ---------------------------------------------------------------------------------------------
// Sizes beyond the 32-bit limits. They need about 6 GiB of memory and some seconds, so they
// run only when OMBRIX_LARGE_TESTS is set.

bool LargeTestsWanted() {
    const char* wanted = std::getenv("OMBRIX_LARGE_TESTS");
    return wanted && *wanted && std::strcmp(wanted, "0") != 0;
}

// Fills the transform's input with n bytes of "abc" repeated.
bool FillInput(cryptTRANSFORM& transform, uint32_t n) {
    transform.input.Clear();
    uint8_t* space = transform.input.AppendSpace(n);
    if (!space) return false;
    for (uint32_t i = 0; i < n; ++i) space[i] = static_cast<uint8_t>("abc"[i % 3]);
    return true;
}

TEST(TransformLarge, EncodedTextBeyondFourGiBIsOutOfMemory) {
    if (!LargeTestsWanted()) GTEST_SKIP() << "set OMBRIX_LARGE_TESTS=1 to run the multi-GiB cases";
    {
        // 3 GiB encodes to exactly 4 GiB of Base64, one byte too many for a buffer.
        constexpr uint32_t kThreeGiB = 3221225472u;
        cryptBASE64 base64;
        ASSERT_TRUE(FillInput(base64, kThreeGiB));
        EXPECT_EQ(base64.Encode(), ombrix::kErrOutOfMemory);
        EXPECT_EQ(base64.output.Length(), 0u);
        EXPECT_EQ(base64.input.Length(), kThreeGiB);  // nothing consumed on failure
    }
    {
        // Two hex digits per byte: 2 GiB make 4 GiB of text.
        cryptHEX hex;
        ASSERT_TRUE(FillInput(hex, 2147483648u));
        EXPECT_EQ(hex.Encode(), ombrix::kErrOutOfMemory);
        EXPECT_EQ(hex.output.Length(), 0u);
    }
}

TEST(TransformLarge, Base64EncodesInputBeyondTwoGiB) {
    if (!LargeTestsWanted()) GTEST_SKIP() << "set OMBRIX_LARGE_TESTS=1 to run the multi-GiB cases";
    cryptBASE64 base64;
    constexpr uint32_t kSize = static_cast<uint32_t>(INT_MAX) + 2;  // 3 * 715827883 + 1
    ASSERT_TRUE(FillInput(base64, kSize));
    ASSERT_EQ(base64.Encode(), 0);
    const uint32_t groups = kSize / 3;
    ASSERT_EQ(base64.output.Length(), (groups + 1) * 4);
    const uint8_t* text = base64.output.Data();
    for (uint32_t group = 0; group < groups; ++group) {
        if (std::memcmp(text + uint64_t{group} * 4, "YWJj", 4) != 0) {
            FAIL() << "group " << group << " differs";
        }
    }
    EXPECT_EQ(std::memcmp(text + uint64_t{groups} * 4, "YQ==", 4), 0);
    EXPECT_EQ(base64.input.Length(), 0u);
}

}  // namespace
