#include "product_file.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "handles.h"

namespace lumvane {

namespace {

constexpr unsigned char kUtf8ByteOrderMark[] = {0xEF, 0xBB, 0xBF};

std::wstring DecodeLine(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return {};
    const int size = static_cast<int>(bytes.size());
    const int count = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::wstring text(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, text.data(), count);
    return text;
}

}  // namespace

ProductLines ParseProductLines(const std::function<int()>& nextByte) {
    ProductLines lines;
    // The byte-order mark is recognised only whole at the very start; bytes of a partial
    // match belong to the first line.
    std::string pending;
    UINT codePage = CP_ACP;
    for (unsigned char markByte : kUtf8ByteOrderMark) {
        const int byte = nextByte();
        if (byte < 0) break;
        pending.push_back(static_cast<char>(byte));
        if (static_cast<unsigned char>(byte) != markByte) break;
    }
    if (pending.size() == sizeof kUtf8ByteOrderMark &&
        pending == std::string(reinterpret_cast<const char*>(kUtf8ByteOrderMark), sizeof kUtf8ByteOrderMark)) {
        pending.clear();
        codePage = CP_UTF8;
    }
    size_t pendingUsed = 0;
    auto next = [&]() -> int {
        if (pendingUsed < pending.size()) return static_cast<unsigned char>(pending[pendingUsed++]);
        return nextByte();
    };

    for (size_t index = 0; index < kProductLineCount; ++index) {
        std::string kept;
        size_t length = 0;  // bytes of this line so far, its end excluded
        bool anyByte = false;
        bool cut = false;
        int byte;
        while ((byte = next()) >= 0) {
            anyByte = true;
            if (byte == '\n') break;
            if (byte < 32) cut = true;
            // Past the limit the rest of an over-long line is skipped up to its end.
            if (!cut && length < kLineLimit) kept.push_back(static_cast<char>(byte));
            ++length;
        }
        if (!anyByte) break;  // end of file: this and later lines are missing
        lines[index] = DecodeLine(kept, codePage);
        if (byte < 0) break;
    }
    return lines;
}

ProductLines ParseProductLines(std::string_view bytes) {
    size_t position = 0;
    return ParseProductLines([&]() -> int {
        if (position >= bytes.size()) return -1;
        return static_cast<unsigned char>(bytes[position++]);
    });
}

std::optional<ProductLines> ReadProductFile(const wchar_t* path) {
    CFile file(_wfopen(path, L"rb"));
    if (!file) return std::nullopt;
    FILE* stream = file.Get();
    return ParseProductLines([stream]() -> int { return fgetc(stream); });
}

}  // namespace lumvane
