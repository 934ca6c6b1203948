// The byte-to-text transforms that every blob owns: identity, hex and Base64.
// Each operation reads the whole input buffer and writes the output buffer.
#pragma once

#include <cstdint>

#include "base/buffer.h"

namespace ombrix {

// The identity transform and the base of the others.
class cryptTRANSFORM {
public:
    virtual ~cryptTRANSFORM();
    // Both append the input to the output and clear the input; 0 or an error code.
    virtual int Encode();
    virtual int Decode();

    Buffer output;
    Buffer input;
};

// Lower-case hex, two digits per byte, nothing between them.
class cryptHEX : public cryptTRANSFORM {
public:
    // 30000 for empty input, 8 when the output cannot hold twice the input; else 0.
    int Encode() override;
    // Decodes pairs of digits (either case) up to the first pair that is not hex; a single
    // character left at the end is ignored. Stopping early is not an error.
    int Decode() override;
};

// Standard Base64 with "=" padding, on one line.
class cryptBASE64 : public cryptTRANSFORM {
public:
    // Encodes through the crypto library's Base64 filter. 30000 for empty input, 8 when the
    // encoded text cannot be held or the crypto library fails.
    int Encode() override;
    // CR and LF are skipped; decoding stops after the first group that is not four digits.
    int Decode() override;

    // The input is fed to the crypto library in pieces of this size (its write length is an int).
    static constexpr uint32_t kEncodePiece = 3 * 65536;
};

// Puts the bytes into the transform's input, runs Encode (or Decode) and leaves a zero byte
// just past the result in the output. Returns the operation's result code.
int EncodeWithData(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count);
int DecodeWithData(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count);

}  // namespace ombrix
