// The product file's lines: line ends, cuts, limits, missing lines, encodings, damaged bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "product_file.h"
#include "test_support.h"

using lumvane::kLineLimit;
using lumvane::ParseProductLines;
using lumvane::ProductLines;

namespace {

const char kEightLinesLf[] =
    "one.bmp\nFirst title\nhttp://example.test/one\nFirst description\n"
    "two.bmp\nSecond title\nhttp://example.test/two\nSecond description\n";

std::vector<std::wstring> Present(const ProductLines& lines) {
    std::vector<std::wstring> present;
    for (const auto& line : lines)
        if (line) present.push_back(*line);
    return present;
}

}  // namespace

TEST(ProductFile, CrLfAndLfLineEndsGiveTheSameLines) {
    std::string crlf;
    for (char c : std::string(kEightLinesLf)) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const ProductLines lf = ParseProductLines(kEightLinesLf);
    EXPECT_EQ(ParseProductLines(crlf), lf);
    ASSERT_TRUE(lf[lumvane::kFirstPicture] && lf[lumvane::kSecondDescription]);
    EXPECT_EQ(*lf[lumvane::kFirstPicture], L"one.bmp");
    EXPECT_EQ(*lf[lumvane::kFirstLink], L"http://example.test/one");
    EXPECT_EQ(*lf[lumvane::kSecondTitle], L"Second title");
    EXPECT_EQ(*lf[lumvane::kSecondDescription], L"Second description");
    // The last line needs no line end; old Mac line ends (CR alone) only cut.
    const ProductLines unterminated = ParseProductLines(std::string(kEightLinesLf, sizeof kEightLinesLf - 2));
    EXPECT_EQ(unterminated, lf);
    const ProductLines crOnly = ParseProductLines("a.bmp\rignored\nTitle\n");
    EXPECT_EQ(Present(crOnly), (std::vector<std::wstring>{L"a.bmp", L"Title"}));
}

TEST(ProductFile, EachLineIsCutAtItsFirstControlByte) {
    const ProductLines lines = ParseProductLines(std::string("p\nWord\tand more\nlink\x01tail\nzero") +
                                                 std::string(1, '\0') + "after\n\x1f\n \n");
    EXPECT_EQ(Present(lines), (std::vector<std::wstring>{L"p", L"Word", L"link", L"zero", L"", L" "}));
    // An empty line is a line: it empties its control rather than counting as missing.
    EXPECT_TRUE(lines[lumvane::kSecondPicture].has_value());
    EXPECT_FALSE(lines[lumvane::kSecondLink].has_value());
}

TEST(ProductFile, LongLinesKeepTheirFirst1023BytesAndLaterLinesTheirPlaces) {
    const std::string exact(kLineLimit, 'a');
    const std::string longer(5000, 'b');
    const std::string oneOver(kLineLimit + 1, 'c');
    for (const char* end : {"\n", "\r\n"}) {
        SCOPED_TRACE(end[1] ? "CR LF" : "LF");
        const std::string file = exact + end + longer + end + oneOver + end + "four" + end + longer + "\t" + end +
                                 "six" + end + "seven" + end + "eight" + end;
        const ProductLines lines = ParseProductLines(file);
        ASSERT_EQ(Present(lines).size(), 8u);
        EXPECT_EQ(*lines[0], std::wstring(kLineLimit, L'a'));
        EXPECT_EQ(*lines[1], std::wstring(kLineLimit, L'b'));
        EXPECT_EQ(*lines[2], std::wstring(kLineLimit, L'c'));
        EXPECT_EQ(*lines[3], L"four");
        EXPECT_EQ(*lines[4], std::wstring(kLineLimit, L'b'));
        EXPECT_EQ(*lines[5], L"six");
        EXPECT_EQ(*lines[7], L"eight");
    }
}

TEST(ProductFile, MissingLinesStayMissing) {
    const ProductLines three = ParseProductLines("one.bmp\nFirst title\nhttp://example.test/one\n");
    EXPECT_EQ(Present(three).size(), 3u);
    for (size_t index = 3; index < lumvane::kProductLineCount; ++index) EXPECT_FALSE(three[index]) << index;

    EXPECT_EQ(Present(ParseProductLines("")).size(), 0u);
    // Nine lines: the ninth is never read.
    EXPECT_EQ(Present(ParseProductLines(std::string(kEightLinesLf) + "nine\n")).size(), 8u);
}

TEST(ProductFile, Utf8WithByteOrderMarkAndAnsiWithout) {
    // U+00E9 and U+20AC in UTF-8; the mark is not part of the first picture's name.
    const ProductLines utf8 = ParseProductLines("\xEF\xBB\xBFpicture.bmp\nCaf\xC3\xA9 \xE2\x82\xAC\n");
    ASSERT_TRUE(utf8[0] && utf8[1]);
    EXPECT_EQ(*utf8[0], L"picture.bmp");
    EXPECT_EQ(*utf8[1], L"Caf\u00e9 \u20ac");

    // Without the mark the bytes are ANSI text: bytes 128 to 255 are characters, not cuts.
    const std::string ansiBytes = "Caf\xE9 \x80\xFF";
    wchar_t expected[16] = {};
    const int count = MultiByteToWideChar(CP_ACP, 0, ansiBytes.data(), static_cast<int>(ansiBytes.size()), expected, 16);
    const ProductLines ansi = ParseProductLines("picture.bmp\n" + ansiBytes + "\n");
    ASSERT_TRUE(ansi[1]);
    EXPECT_EQ(*ansi[1], std::wstring(expected, static_cast<size_t>(count)));
    EXPECT_EQ(ansi[1]->size(), ansiBytes.size());
    if (GetACP() == 1252) {
        EXPECT_EQ(*ansi[1], L"Caf\u00e9 \u20ac\u00ff");
    }

    // Only a whole mark at the very start counts; a partial one is text in the ANSI code page.
    const ProductLines partial = ParseProductLines("\xEF\xBBx\nT\n");
    ASSERT_TRUE(partial[0]);
    EXPECT_EQ(partial[0]->size(), 3u);
    const ProductLines lateMark = ParseProductLines("a\n\xEF\xBB\xBFT\n");
    ASSERT_TRUE(lateMark[1]);
    EXPECT_NE(*lateMark[1], L"T");
}

TEST(ProductFile, RandomBytesGiveAtMostEightShortControlFreeLines) {
    std::mt19937 random(20240610);
    for (int round = 0; round < 300; ++round) {
        std::string bytes(random() % 6000, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random() % 256);
        if (round % 3 == 0)
            for (char& byte : bytes)
                if (random() % 40 == 0) byte = '\n';
        const ProductLines lines = ParseProductLines(bytes);
        for (const auto& line : lines) {
            if (!line) continue;
            EXPECT_LE(line->size(), kLineLimit);
            for (wchar_t c : *line) ASSERT_GE(c, 32) << "round " << round;
        }
        // Lines are filled in order: none present after a missing one.
        bool missing = false;
        for (const auto& line : lines) {
            if (!line) {
                missing = true;
            } else {
                EXPECT_FALSE(missing);
            }
        }
    }
}

TEST(ProductFile, ReadFromDisk) {
    lumtest::TempFolder folder;
    EXPECT_FALSE(lumvane::ReadProductFile(folder.File(L"Lumvane.ini").c_str()).has_value());
    folder.Write(L"Lumvane.ini", kEightLinesLf);
    const auto lines = lumvane::ReadProductFile(folder.File(L"Lumvane.ini").c_str());
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(*lines, ParseProductLines(kEightLinesLf));
    folder.Write(L"empty.ini", "");
    const auto empty = lumvane::ReadProductFile(folder.File(L"empty.ini").c_str());
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(Present(*empty).size(), 0u);
}
