#include "base/buffer.h"

#include "binding/binding.h"
#include "crypto/mpint.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using ombrix::Buffer;

namespace {

std::string Content(const Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.Data()), buffer.Length());
}

TEST(Buffer, NewBufferIsEmptyWithNothingToParse) {
    Buffer buffer;
    EXPECT_EQ(buffer.Length(), 0u);
    EXPECT_EQ(buffer.Capacity(), 4096u);
    EXPECT_EQ(buffer.GetLine(), nullptr);
    uint32_t length = 99;
    EXPECT_EQ(buffer.GetString(&length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(Buffer, AppendKeepsAZeroBytePastTheContent) {
    Buffer buffer;
    ASSERT_TRUE(buffer.Append("ab", 2));
    EXPECT_EQ(Content(buffer), "ab");
    EXPECT_EQ(buffer.Data()[2], 0);
}

TEST(Buffer, GrowsByRequestPlusSlackWhenTheZeroByteDoesNotFit) {
    Buffer buffer;
    std::string bytes(4095, 'x');
    ASSERT_TRUE(buffer.Append(bytes.data(), 4095));
    EXPECT_EQ(buffer.Capacity(), 4096u + 4096u + 32768u);
    EXPECT_EQ(Content(buffer), bytes);
}

TEST(Buffer, CompactsInsteadOfGrowingOnceMoreThanHalfIsConsumed) {
    Buffer buffer;
    std::string bytes(4000, 'a');
    for (int i = 0; i < 4000; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(buffer.Append(bytes.data(), 4000));
    buffer.Consume(3000);
    ASSERT_TRUE(buffer.Append(std::string(100, 'z').data(), 100));
    EXPECT_EQ(buffer.Capacity(), 4096u);
    EXPECT_EQ(buffer.ReadOffset(), 0u);
    EXPECT_EQ(buffer.EndOffset(), 1100u);
    EXPECT_EQ(Content(buffer), bytes.substr(3000) + std::string(100, 'z'));
}

TEST(Buffer, EverythingConsumedResetsOffsetsOnTheNextAppend) {
    Buffer buffer;
    buffer.Append("abc", 3);
    buffer.Consume(3);
    buffer.Append("d", 1);
    EXPECT_EQ(buffer.ReadOffset(), 0u);
    EXPECT_EQ(Content(buffer), "d");
}

TEST(Buffer, ConsumeBeyondTheContentDoesNothing) {
    Buffer buffer;
    buffer.Append("abc", 3);
    buffer.Consume(4);
    buffer.ConsumeEnd(4);
    char out[8] = "unset";
    EXPECT_FALSE(buffer.GetBytes(out, 4));
    EXPECT_STREQ(out, "unset");
    EXPECT_EQ(Content(buffer), "abc");
    buffer.ConsumeEnd(1);
    EXPECT_EQ(Content(buffer), "ab");
}

TEST(Buffer, SshIntegersAndStringsAreBigEndianAndLengthPrefixed) {
    Buffer buffer;
    buffer.PutInt(1);
    EXPECT_EQ(Content(buffer), std::string("\0\0\0\1", 4));
    buffer.Clear();
    buffer.PutString("abc", 3);
    EXPECT_EQ(Content(buffer), std::string("\0\0\0\3abc", 7));
    buffer.PutCString("xy");
    buffer.PutChar(0xFE);
    uint32_t length = 0;
    uint8_t* first = buffer.GetString(&length);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first)), "abc");
    delete[] first;
    uint8_t* second = buffer.GetString(&length);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(second), length), "xy");
    delete[] second;
    EXPECT_EQ(buffer.GetChar(), 0xFE);
    buffer.PutInt(0xA1B2C3D4);
    EXPECT_EQ(buffer.GetInt(), 0xA1B2C3D4u);
}

TEST(Buffer, GetStringRefusesLengthsAboveTheLimitOrTheContent) {
    Buffer buffer;
    buffer.PutInt(262145);
    std::string body(262145, 'q');
    buffer.Append(body.data(), static_cast<uint32_t>(body.size()));
    uint32_t length = 7;
    EXPECT_EQ(buffer.GetString(&length), nullptr);
    EXPECT_EQ(length, 0u);

    Buffer at_limit;
    at_limit.PutString(body.data(), 262144);
    uint8_t* bytes = at_limit.GetString(&length);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(length, 262144u);
    delete[] bytes;

    Buffer truncated;
    truncated.PutInt(10);
    truncated.Append("short", 5);
    EXPECT_EQ(truncated.GetString(&length), nullptr);
}

TEST(Buffer, GetLineEndsAtLineFeedOrCarriageReturnLineFeed) {
    Buffer buffer;
    buffer.Append("ab\r\ncd", 6);
    char* line = buffer.GetLine();
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(Content(buffer), "cd");
    EXPECT_EQ(buffer.GetLine(), nullptr);
    EXPECT_EQ(Content(buffer), "cd");

    Buffer plain;
    plain.Append("x\ny\n", 4);
    EXPECT_STREQ(plain.GetLine(), "x");
    EXPECT_STREQ(plain.GetLine(), "y");
    EXPECT_EQ(plain.GetLine(), nullptr);
}

TEST(Buffer, ClearKeepsTheArrayAndItsBytes) {
    Buffer buffer;
    buffer.Append("secret", 6);
    buffer.Clear();
    EXPECT_EQ(buffer.Length(), 0u);
    EXPECT_EQ(std::memcmp(buffer.Array(), "secret", 6), 0);
}
// An owned big number made from big-endian bytes through the binding.
struct BigNumber {
    explicit BigNumber(const std::string& bytes = {})
        : value(ombrix::Crypto().BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()),
                                           static_cast<int>(bytes.size()), nullptr)) {}
    ~BigNumber() { ombrix::Crypto().BN_free(value); }
    std::string Bytes() const {
        std::string bytes(static_cast<size_t>((ombrix::Crypto().BN_num_bits(value) + 7) / 8), '\0');
        ombrix::Crypto().BN_bn2bin(value, reinterpret_cast<unsigned char*>(bytes.data()));
        return bytes;
    }
    BIGNUM* value;
};

TEST(Buffer, PutBignum2WritesSshMpints) {
    const struct {
        std::string magnitude, encoded;
    } cases[] = {
        {std::string("\x80", 1), std::string("\0\0\0\x02\0\x80", 6)},
        {std::string("\x7f", 1), std::string("\0\0\0\x01\x7f", 5)},
        {std::string(), std::string("\0\0\0\0", 4)},
        {std::string("\x00\x01\x02", 3), std::string("\0\0\0\x02\x01\x02", 6)},  // leading zeros dropped
        {std::string("\xff\x00\x00\x01", 4), std::string("\0\0\0\x05\0\xff\x00\x00\x01", 9)},
    };
    for (const auto& c : cases) {
        Buffer buffer;
        BigNumber number(c.magnitude);
        ASSERT_NE(number.value, nullptr);
        EXPECT_TRUE(PutBignum2(buffer, number.value));
        EXPECT_EQ(Content(buffer), c.encoded);
    }
}

TEST(Buffer, GetBignum2ReadsUnsignedMagnitudesAndRoundTrips) {
    Buffer buffer;
    BigNumber big(std::string(300, '\xa5'));  // 2400 bits, top bit set
    ASSERT_TRUE(PutBignum2(buffer, big.value));
    BigNumber read;
    EXPECT_EQ(GetBignum2(buffer, read.value), 301u);
    EXPECT_EQ(read.Bytes(), std::string(300, '\xa5'));
    EXPECT_EQ(buffer.Length(), 0u);

    // A leading zero byte carries no sign.
    buffer.PutString("\0\x80", 2);
    EXPECT_EQ(GetBignum2(buffer, read.value), 2u);
    EXPECT_EQ(read.Bytes(), std::string("\x80", 1));
}

TEST(Buffer, GetBignum2OfAMissingOrOverlongStringIsZero) {
    BigNumber read(std::string("\x12\x34", 2));
    Buffer over;
    over.PutInt(262145);
    over.AppendSpace(262145);
    EXPECT_EQ(GetBignum2(over, read.value), 0u);
    EXPECT_EQ(read.Bytes(), "");

    BigNumber again(std::string("\x12", 1));
    Buffer truncated;
    truncated.PutInt(10);
    truncated.Append("abc", 3);  // fewer bytes than declared
    EXPECT_EQ(GetBignum2(truncated, again.value), 0u);
    EXPECT_EQ(again.Bytes(), "");

    Buffer empty;
    EXPECT_EQ(GetBignum2(empty, again.value), 0u);
}

}  // namespace
