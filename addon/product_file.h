// The product file "Lumvane.ini": eight text lines, picture, title, link and description of
// each of the two products.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumvane {

constexpr size_t kProductLineCount = 8;
// Bytes kept of one line; the rest of a longer line is skipped up to its end.
constexpr size_t kLineLimit = 1023;

// Line indexes within the file.
enum ProductLine : size_t {
    kFirstPicture = 0,
    kFirstTitle = 1,
    kFirstLink = 2,
    kFirstDescription = 3,
    kSecondPicture = 4,
    kSecondTitle = 5,
    kSecondLink = 6,
    kSecondDescription = 7,
};

// The lines read; a line the file does not have stays empty (std::nullopt).
using ProductLines = std::array<std::optional<std::wstring>, kProductLineCount>;

// Reads the lines from a byte source that returns the next byte (0..255) or -1 at the end.
// Each line keeps at most kLineLimit bytes and is cut at its first byte below 32 (the line end,
// a tab and anything after it). A file starting with the UTF-8 byte-order mark is read as
// UTF-8, any other in the ANSI code page.
ProductLines ParseProductLines(const std::function<int()>& nextByte);
ProductLines ParseProductLines(std::string_view bytes);

// Reads the product file at `path`; std::nullopt when it cannot be opened.
std::optional<ProductLines> ReadProductFile(const wchar_t* path);

}  // namespace lumvane
