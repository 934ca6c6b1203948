#include "text/text_encoding.h"

#include <climits>
#include <new>

#include "text/transform.h"
#include "base/error_codes.h"
#include "text/code_page.h"

namespace ombrix {

BSTR BytesToText(const uint8_t* bytes, uint32_t count, bool* out_of_memory) {
    *out_of_memory = false;
    const UINT code_page = static_cast<UINT>(TextCodePage());
    const auto* source = reinterpret_cast<const char*>(bytes);
    // MultiByteToWideChar counts in int: longer content converts to nothing.
    const int length = count <= INT_MAX ? MultiByteToWideChar(code_page, 0, source, static_cast<int>(count), nullptr, 0) : 0;
    BSTR text = SysAllocStringLen(nullptr, length > 0 ? static_cast<UINT>(length) : 0);
    if (!text) {
        *out_of_memory = true;
        return nullptr;
    }
    if (length > 0) MultiByteToWideChar(code_page, 0, source, static_cast<int>(count), text, length);
    return text;
}

int64_t AppendTextBytes(BSTR text, Buffer& buffer) {
    const UINT characters = SysStringLen(text);
    if (characters == 0 || characters > INT_MAX) return 0;
    const UINT code_page = static_cast<UINT>(TextCodePage());
    const int count = WideCharToMultiByte(code_page, 0, text, static_cast<int>(characters), nullptr, 0, nullptr, nullptr);
    if (count <= 0) return 0;
    // One byte more for the zero that every append keeps past the content.
    uint8_t* space = buffer.AppendSpace(static_cast<uint32_t>(count) + 1);
    if (!space) return -1;
    const int written = WideCharToMultiByte(code_page, 0, text, static_cast<int>(characters),
                                            reinterpret_cast<char*>(space), count, nullptr, nullptr);
    const uint32_t kept = written > 0 ? static_cast<uint32_t>(written) : 0;
    space[kept] = 0;
    buffer.ConsumeEnd(static_cast<uint32_t>(count) + 1 - kept);
    return kept;
}

bool NarrowAnsi(const wchar_t* text, uint32_t length, std::string& narrow) {
    narrow.clear();
    if (!text || length == 0 || length > INT_MAX) return true;
    const int count = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (count <= 0) return true;
    try {
        narrow.resize(static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int written = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), narrow.data(), count, nullptr, nullptr);
    narrow.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return true;
}

int32_t EncodeToText(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count, BSTR* text) {
    *text = nullptr;
    if (count == 0) return kErrNone;
    transform.input.Clear();
    transform.output.Clear();
    if (const int code = EncodeWithData(transform, bytes, count)) return code;
    bool out_of_memory = false;
    *text = BytesToText(transform.output.Data(), transform.output.Length(), &out_of_memory);
    transform.output.Clear();
    return out_of_memory ? kErrOutOfMemory : kErrNone;
}

int32_t DecodeFromText(cryptTRANSFORM& transform, BSTR data) {
    transform.input.Clear();
    transform.output.Clear();
    const uint32_t characters = SysStringLen(data);
    std::string narrow;
    if (!NarrowAnsi(data, characters, narrow)) return kErrOutOfMemory;
    const uint32_t count = narrow.size() < characters ? static_cast<uint32_t>(narrow.size()) : characters;
    const int code = DecodeWithData(transform, reinterpret_cast<const uint8_t*>(narrow.data()), count);
    SecureZero(narrow.data(), narrow.size());
    return code;
}

LONG LittleEndianInt(const uint8_t* bytes, uint32_t count) {
    uint32_t result = 0;
    for (uint32_t i = 0; i < 4 && i < count; ++i) result |= uint32_t{bytes[i]} << (8 * i);
    return static_cast<LONG>(result);
}

}  // namespace ombrix
