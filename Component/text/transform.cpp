#include "text/transform.h"

#include <algorithm>
#include <array>
#include <memory>

#include "binding/binding.h"
#include "binding/openssl_holders.h"
#include "base/error_codes.h"

namespace ombrix {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a hex digit of either case, or -1.
int HexValue(uint8_t character) {
    if (character >= 'A' && character <= 'Z') character = static_cast<uint8_t>(character - 'A' + 'a');
    if (character >= '0' && character <= '9') return character - '0';
    if (character >= 'a' && character <= 'f') return character - 'a' + 10;
    return -1;
}

// The value of each byte as a Base64 digit, or -1.
constexpr std::array<int8_t, 256> MakeBase64Values() {
    std::array<int8_t, 256> values{};
    for (auto& value : values) value = -1;
    for (int digit = 0; digit < 64; ++digit) values[static_cast<uint8_t>(kBase64Digits[digit])] = static_cast<int8_t>(digit);
    return values;
}
constexpr std::array<int8_t, 256> kBase64Values = MakeBase64Values();

// Grows an emptied buffer's array so that n bytes can be appended without reallocating; the
// buffer grows linearly, and small batched appends would otherwise copy it again every 32 KiB.
// Best effort: when memory is short the appends report it themselves.
void Reserve(Buffer& buffer, uint64_t n) {
    if (n == 0 || n >= UINT32_MAX || buffer.Length() != 0) return;
    buffer.AppendSpace(static_cast<uint32_t>(n) + 1);
    buffer.Clear();
}

// Collects decoded bytes and appends them to the output once more than 512 have accumulated.
class Staging {
public:
    explicit Staging(Buffer& output) : output_(output) {}
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    ~Staging() { SecureZero(bytes_, sizeof bytes_); }

    // At most one Base64 group (3 bytes) at a time; false when the output cannot grow.
    bool Put(const uint8_t* bytes, uint32_t n) {
        for (uint32_t i = 0; i < n && i < kMaxPut; ++i) bytes_[count_++] = bytes[i];
        return count_ <= kFlushAbove || Flush();
    }

    bool Flush() {
        const bool appended = count_ == 0 || output_.Append(bytes_, count_);
        count_ = 0;
        return appended;
    }

private:
    static constexpr uint32_t kSize = 1024;
    static constexpr uint32_t kFlushAbove = 512;
    static constexpr uint32_t kMaxPut = 3;
    static_assert(kFlushAbove + kMaxPut <= kSize);

    Buffer& output_;
    uint8_t bytes_[kSize];
    uint32_t count_ = 0;
};

// Decodes one group of up to four characters: the leading Base64 digits (v of them) are packed
// big-endian, six bits each, and the first floor(6v/8) of the three bytes are kept. Returns v.
uint32_t DecodeGroup(const uint8_t* group, uint32_t size, Staging& staging, bool* appended) {
    uint32_t digits = 0;
    uint32_t packed = 0;
    while (digits < size && digits < 4) {
        const int value = kBase64Values[group[digits]];
        if (value < 0) break;
        packed |= static_cast<uint32_t>(value) << (18 - 6 * digits);
        ++digits;
    }
    uint8_t bytes[3] = {static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 8),
                        static_cast<uint8_t>(packed)};
    *appended = staging.Put(bytes, 6 * digits / 8);
    SecureZero(bytes, sizeof bytes);
    return digits;
}


// Appends what the memory sink holds to the output and empties the sink (a reset wipes it).
bool DrainSink(BIO* sink, Buffer& output) {
    char* text = nullptr;
    const long length = Crypto().BIO_ctrl(sink, BIO_CTRL_INFO, 0, &text);
    if (length == 0) return true;
    if (length < 0 || !text) return false;
    if (!output.Append(text, static_cast<uint32_t>(length))) return false;
    return Crypto().BIO_ctrl(sink, BIO_CTRL_RESET, 0, nullptr) > 0;
}

// Base64 of the bytes through the crypto library: a Base64 filter without line breaks in front
// of a memory sink. The input goes in pieces because the library's write length is an int, and
// the sink is emptied after each piece because its length is reported as a long (32 bits here).
bool EncodeThroughFilter(const uint8_t* bytes, uint32_t count, Buffer& output) {
    const CryptoUse crypto;  // a blob converts outside any operation too
    BioChainPtr sink(Crypto().BIO_new(Crypto().BIO_s_mem()));
    if (!sink) return false;
    BioChainPtr chain(Crypto().BIO_new(Crypto().BIO_f_base64()));
    if (!chain) return false;
    Crypto().BIO_set_flags(chain.get(), BIO_FLAGS_BASE64_NO_NL);
    BIO* memory = sink.get();
    Crypto().BIO_push(chain.get(), sink.release());  // the chain owns the sink from here on

    uint32_t written = 0;
    while (written < count) {
        const int piece = static_cast<int>(std::min(count - written, cryptBASE64::kEncodePiece));
        const int accepted = Crypto().BIO_write(chain.get(), bytes + written, piece);
        if (accepted <= 0 || accepted > piece) return false;
        written += static_cast<uint32_t>(accepted);
        if (!DrainSink(memory, output)) return false;
    }
    if (Crypto().BIO_ctrl(chain.get(), BIO_CTRL_FLUSH, 0, nullptr) <= 0) return false;
    return DrainSink(memory, output);
}

int RunWithData(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count, int (cryptTRANSFORM::*operation)()) {
    transform.input.Clear();
    // A null pointer counts as no bytes.
    if (bytes && count && !transform.input.Append(bytes, count)) return kErrOutOfMemory;
    const int result = (transform.*operation)();
    // A zero byte just past the result, so that the output also reads as a C string.
    if (!transform.output.Append("", 1)) return result != 0 ? result : kErrOutOfMemory;
    transform.output.ConsumeEnd(1);
    return result;
}

}  // namespace

cryptTRANSFORM::~cryptTRANSFORM() = default;

int cryptTRANSFORM::Encode() {
    if (!output.Append(input.Data(), input.Length())) return kErrOutOfMemory;
    input.Clear();
    return kErrNone;
}

int cryptTRANSFORM::Decode() { return cryptTRANSFORM::Encode(); }

int cryptHEX::Encode() {
    const uint32_t count = input.Length();
    if (count == 0) return kErrNoInputText;
    output.Clear();
    const uint64_t text_length = uint64_t{count} * 2;
    if (text_length >= UINT32_MAX) return kErrOutOfMemory;
    // One byte more for the zero kept past the content.
    uint8_t* text = output.AppendSpace(static_cast<uint32_t>(text_length) + 1);
    if (!text) return kErrOutOfMemory;
    const uint8_t* bytes = input.Data();
    for (uint32_t i = 0; i < count; ++i) {
        *text++ = static_cast<uint8_t>(kHexDigits[bytes[i] >> 4]);
        *text++ = static_cast<uint8_t>(kHexDigits[bytes[i] & 0x0F]);
    }
    *text = 0;
    output.ConsumeEnd(1);
    input.Clear();
    return kErrNone;
}

int cryptHEX::Decode() {
    const uint32_t count = input.Length();
    if (count == 0) return kErrNoInputText;
    output.Clear();
    Reserve(output, count / 2);
    Staging staging(output);
    const uint8_t* text = input.Data();
    uint32_t used = 0;
    while (count - used >= 2) {
        const int high = HexValue(text[used]);
        const int low = HexValue(text[used + 1]);
        if (high < 0 || low < 0) break;
        const uint8_t byte = static_cast<uint8_t>(high * 16 + low);
        if (!staging.Put(&byte, 1)) {
            output.Clear();
            return kErrOutOfMemory;
        }
        used += 2;
    }
    if (!staging.Flush()) {
        output.Clear();
        return kErrOutOfMemory;
    }
    input.Consume(used);
    return kErrNone;
}

int cryptBASE64::Encode() {
    const uint32_t count = input.Length();
    if (count == 0) return kErrNoInputText;
    output.Clear();
    const uint64_t text_length = (uint64_t{count} + 2) / 3 * 4;
    if (text_length >= UINT32_MAX) return kErrOutOfMemory;
    Reserve(output, text_length);
    if (!EncodeThroughFilter(input.Data(), count, output) || output.Length() != text_length) {
        output.Clear();
        return kErrOutOfMemory;
    }
    input.Clear();
    return kErrNone;
}

int cryptBASE64::Decode() {
    const uint32_t count = input.Length();
    if (count == 0) return kErrNoInputText;
    output.Clear();
    Reserve(output, uint64_t{count} / 4 * 3 + 2);
    Staging staging(output);
    const uint8_t* text = input.Data();
    uint8_t group[4];
    uint32_t held = 0;
    uint32_t used = 0;
    bool appended = true;
    bool ended = false;
    while (used < count && !ended && appended) {
        const uint8_t character = text[used++];
        if (character == '\r' || character == '\n') continue;
        group[held++] = character;
        if (held < 4) continue;
        held = 0;
        // A group that is not four digits is the last one decoded.
        ended = DecodeGroup(group, 4, staging, &appended) < 4;
    }
    if (appended && !ended && held > 0) DecodeGroup(group, held, staging, &appended);
    SecureZero(group, sizeof group);
    if (!appended || !staging.Flush()) {
        output.Clear();
        return kErrOutOfMemory;
    }
    input.Consume(used);
    return kErrNone;
}

int EncodeWithData(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count) {
    return RunWithData(transform, bytes, count, &cryptTRANSFORM::Encode);
}

int DecodeWithData(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count) {
    return RunWithData(transform, bytes, count, &cryptTRANSFORM::Decode);
}

}  // namespace ombrix
