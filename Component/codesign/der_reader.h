// Reading DER one element at a time: definite lengths, tags of one byte. Every element lies
// inside the bytes it was read from; anything else is refused.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrix {

struct DerElement {
    uint8_t tag = 0;
    const uint8_t* content = nullptr;
    size_t length = 0;
    const uint8_t* whole = nullptr;  // tag, length and content
    size_t whole_length = 0;
};

class DerReader {
public:
    DerReader(const uint8_t* bytes, size_t length) : at_(bytes), end_(bytes + length) {}
    explicit DerReader(const DerElement& constructed) : DerReader(constructed.content, constructed.length) {}

    bool AtEnd() const { return at_ == end_; }
    // The next element's tag, without reading it; 0 at the end.
    uint8_t PeekTag() const { return AtEnd() ? 0 : *at_; }

    // Reads the next element; false (and nothing read) when it is malformed or overruns.
    bool Next(DerElement& element) {
        const size_t left = static_cast<size_t>(end_ - at_);
        if (left < 2 || (at_[0] & 0x1F) == 0x1F) return false;
        size_t header = 2;
        size_t length = at_[1];
        if (length & 0x80) {
            const size_t digits = length & 0x7F;
            if (digits == 0 || digits > 4 || left < 2 + digits) return false;
            length = 0;
            for (size_t i = 0; i < digits; ++i) length = (length << 8) | at_[2 + i];
            header += digits;
        }
        if (length > left - header) return false;
        element = {at_[0], at_ + header, length, at_, header + length};
        at_ += header + length;
        return true;
    }
    // Reads the next element and checks its tag.
    bool Next(uint8_t tag, DerElement& element) { return PeekTag() == tag && Next(element); }

private:
    const uint8_t* at_;
    const uint8_t* end_;
};

}  // namespace ombrix
