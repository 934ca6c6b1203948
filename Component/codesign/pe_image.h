// Reading a Windows executable image for Authenticode: where the checksum and the
// certificate-table entry are, which bytes the image digest covers, and the padding.
#pragma once

#include <array>
#include <cstdint>

#include "crypto/blob_port.h"
#include "base/buffer.h"

namespace ombrix {

inline constexpr uint16_t kPe32Magic = 0x10B;
inline constexpr uint16_t kPe32PlusMagic = 0x20B;
// The headers read from e: the PE signature, the file header and a 64-bit optional header.
inline constexpr uint32_t kNtHeadersLength = 264;

struct PeLayout {
    uint64_t size = 0;                // S, the whole image
    uint32_t e = 0;                   // offset of the PE signature (the value at offset 60)
    uint16_t magic = 0;               // kPe32Magic or kPe32PlusMagic
    uint32_t checksum_offset = 0;     // e + 88, 4 bytes
    uint32_t entry_offset = 0;        // the certificate-table entry: e + 152 (PE32), e + 168 (PE32+)
    uint32_t padding = 0;             // P = 8 - S mod 8, 1 to 8
    uint32_t table_offset = 0;        // C = S + P, where the certificate table goes
};

// A byte range [begin, end) of the image.
struct ByteRange {
    uint64_t begin;
    uint64_t end;
};

// Reads and checks the headers of the image in `data`, from its start (whatever its position).
// 0 and the layout; 30013 when it is not an image that can be signed (no "MZ", too short for
// the headers at e, no "PE" signature, another magic, fewer than five data directories, an entry
// beyond SizeOfOptionalHeader, or too large for 32-bit table offsets); 30014 when the
// certificate-table entry's size is not 0; 30009 when the blob cannot be read.
int ReadPeLayout(BlobPort& data, PeLayout& layout);

// The image digest covers these ranges, in order, followed by P zero bytes: everything but the
// checksum and the certificate-table entry.
std::array<ByteRange, 3> HashedRanges(const PeLayout& layout);

// P for an image of `size` bytes, and Q for a SignedData of `length` bytes: 8 - (n mod 8).
uint32_t PaddingTo8(uint64_t size);

// Receives the bytes of the image digest in order.
class ImageDigestSink {
public:
    virtual ~ImageDigestSink() = default;
    virtual void Update(const uint8_t* bytes, uint32_t count) = 0;
};

// The header checksum that the loader checks for drivers and that checking tools compare: the
// 16-bit words of the file (the checksum field counted as zero) added with end-around carry,
// plus the file's length. Bytes may come in any order, each with its file offset.
class PeChecksum {
public:
    void Add(uint64_t offset, const uint8_t* bytes, uint32_t count);
    uint32_t Value(uint64_t file_length) const;

private:
    uint64_t sum_ = 0;
};

// Reads the hashed ranges from `data` in pieces of at most 32768 bytes and feeds them, then the
// P zero bytes, to `sink`. Counts the bytes actually read: 0, or 30009 when a read fails or the
// blob ends early.
int DigestHashedRanges(BlobPort& data, const PeLayout& layout, ImageDigestSink& sink);

// The certificate table appended to the image: length L + Q + 8, revision 0x0200, type 2
// (PKCS#7 SignedData), the L bytes of DER, Q zero bytes. False when L is too large or memory
// is lacking.
bool BuildCertificateTable(const uint8_t* der, uint32_t length, Buffer& table);

// Reads exactly `count` bytes from the current position; 0, 30009 when the blob ends early or
// a read fails.
int ReadExactly(BlobPort& data, uint32_t count, Buffer& into);

}  // namespace ombrix
