#include "codesign/pe_image.h"

#include <algorithm>

#include "base/byte_order.h"
#include "base/error_codes.h"

namespace ombrix {
namespace {

constexpr uint32_t kDosHeaderLength = 64;
constexpr uint32_t kPeOffsetField = 60;
constexpr uint32_t kReadPiece = 32768;

// Offsets from e.
constexpr uint32_t kSizeOfOptionalHeaderField = 20;
constexpr uint32_t kOptionalHeaderStart = 24;
constexpr uint32_t kChecksumField = 88;
constexpr uint32_t kPe32DirectoryCountField = 116;
constexpr uint32_t kPe32PlusDirectoryCountField = 132;
constexpr uint32_t kPe32EntryField = 152;
constexpr uint32_t kPe32PlusEntryField = 168;
constexpr uint32_t kCertificateDirectory = 4;  // the fifth data directory


}  // namespace

int ReadExactly(BlobPort& data, uint32_t count, Buffer& into) {
    uint32_t done = 0;
    while (done < count) {
        const uint32_t before = into.Length();
        if (!data.Read(count - done, into).IsOk()) return kErrReadBlobFailed;
        const uint32_t got = into.Length() - before;
        if (got == 0 || got > count - done) return kErrReadBlobFailed;
        done += got;
    }
    return 0;
}

uint32_t PaddingTo8(uint64_t size) { return 8 - static_cast<uint32_t>(size % 8); }

int ReadPeLayout(BlobPort& data, PeLayout& layout) {
    layout = PeLayout{};
    uint64_t end = 0;
    if (!data.Seek(0, kSeekEnd, &end).IsOk() || !data.Seek(0, kSeekStart, nullptr).IsOk()) return kErrReadBlobFailed;
    const uint64_t size = end;
    if (size < kDosHeaderLength) return kErrNotExecutable;

    Buffer dos;
    if (int result = ReadExactly(data, kDosHeaderLength, dos); result != 0) return result;
    if (dos.Data()[0] != 'M' || dos.Data()[1] != 'Z') return kErrNotExecutable;
    const uint32_t e = LoadLittleEndian32(dos.Data() + kPeOffsetField);
    // 64-bit arithmetic: an e near 2^32 must not wrap around.
    if (static_cast<uint64_t>(e) + kNtHeadersLength > size) return kErrNotExecutable;

    Buffer nt;
    if (!data.Seek(e, kSeekStart, nullptr).IsOk()) return kErrReadBlobFailed;
    if (int result = ReadExactly(data, kNtHeadersLength, nt); result != 0) return result;
    const uint8_t* headers = nt.Data();
    if (headers[0] != 'P' || headers[1] != 'E' || headers[2] != 0 || headers[3] != 0) return kErrNotExecutable;

    const uint16_t magic = LoadLittleEndian16(headers + kOptionalHeaderStart);
    uint32_t entry_field = 0;
    uint32_t count_field = 0;
    if (magic == kPe32Magic) {
        entry_field = kPe32EntryField;
        count_field = kPe32DirectoryCountField;
    } else if (magic == kPe32PlusMagic) {
        entry_field = kPe32PlusEntryField;
        count_field = kPe32PlusDirectoryCountField;
    } else {
        return kErrNotExecutable;
    }
    const uint32_t optional_header_end = kOptionalHeaderStart + LoadLittleEndian16(headers + kSizeOfOptionalHeaderField);
    if (entry_field + 8 > optional_header_end) return kErrNotExecutable;
    if (LoadLittleEndian32(headers + count_field) <= kCertificateDirectory) return kErrNotExecutable;

    const uint32_t padding = PaddingTo8(size);
    // The table's offset and its end must fit the entry's 32-bit fields.
    if (size + padding > UINT32_MAX) return kErrNotExecutable;
    if (LoadLittleEndian32(headers + entry_field + 4) != 0) return kErrAlreadySigned;

    layout.size = size;
    layout.e = e;
    layout.magic = magic;
    layout.checksum_offset = e + kChecksumField;
    layout.entry_offset = e + entry_field;
    layout.padding = padding;
    layout.table_offset = static_cast<uint32_t>(size + padding);
    return 0;
}

std::array<ByteRange, 3> HashedRanges(const PeLayout& layout) {
    return {ByteRange{0, layout.checksum_offset}, ByteRange{layout.checksum_offset + 4ull, layout.entry_offset},
            ByteRange{layout.entry_offset + 8ull, layout.size}};
}

int DigestHashedRanges(BlobPort& data, const PeLayout& layout, ImageDigestSink& sink) {
    Buffer piece;
    for (const ByteRange& range : HashedRanges(layout)) {
        if (!data.Seek(static_cast<int64_t>(range.begin), kSeekStart, nullptr).IsOk()) return kErrReadBlobFailed;
        for (uint64_t at = range.begin; at < range.end;) {
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(kReadPiece, range.end - at));
            piece.Clear();
            if (int result = ReadExactly(data, count, piece); result != 0) return result;
            sink.Update(piece.Data(), count);
            at += count;
        }
    }
    const uint8_t zeros[8] = {};
    sink.Update(zeros, layout.padding);
    return 0;
}

void PeChecksum::Add(uint64_t offset, const uint8_t* bytes, uint32_t count) {
    uint32_t i = 0;
    if (count && (offset & 1)) sum_ += uint64_t{bytes[i++]} << 8;  // the high byte of its word
    uint64_t words = 0;
    for (; i + 1 < count; i += 2) words += LoadLittleEndian16(bytes + i);
    if (i < count) words += bytes[i];  // the low byte of a word whose high byte comes later
    sum_ += words;  // at most 2^31 words of 16 bits: no overflow
}

uint32_t PeChecksum::Value(uint64_t file_length) const {
    uint64_t sum = sum_;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file_length);
}

bool BuildCertificateTable(const uint8_t* der, uint32_t length, Buffer& table) {
    const uint32_t padding = PaddingTo8(length);
    if (length > UINT32_MAX - 16 || (length && !der)) return false;
    uint8_t header[8];
    StoreLittleEndian32(header, length + padding + 8);
    header[4] = 0x00;  // revision 0x0200
    header[5] = 0x02;
    header[6] = 0x02;  // type 2: PKCS#7 SignedData
    header[7] = 0x00;
    const uint8_t zeros[8] = {};
    table.Clear();
    return table.Append(header, sizeof header) && (length == 0 || table.Append(der, length)) &&
           table.Append(zeros, padding);
}

}  // namespace ombrix
