// Conversions between blob bytes and strings: the process-wide text code page for text, the
// system's ANSI code page for names and hex/Base64 input.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "base/buffer.h"

namespace ombrix { class cryptTRANSFORM; }

namespace ombrix {

// The bytes as text in the text code page: a BSTR of exactly the converted length, an empty
// BSTR when nothing converts, null only when the string cannot be allocated (*out_of_memory).
BSTR BytesToText(const uint8_t* bytes, uint32_t count, bool* out_of_memory);

// Appends the string (its full length, embedded zero characters included) converted to the
// text code page without a default character. Returns the number of bytes appended (0 when
// the string yields none) or -1 when the buffer cannot grow.
int64_t AppendTextBytes(BSTR text, Buffer& buffer);

// The first `length` characters narrowed with the system's ANSI code page into `narrow`
// (empty when nothing converts). False only when memory runs out.
bool NarrowAnsi(const wchar_t* text, uint32_t length, std::string& narrow);

// Encodes the bytes with the transform (hex or Base64) and widens the text into *text
// (null for no bytes). 0 or an error code.
int32_t EncodeToText(cryptTRANSFORM& transform, const uint8_t* bytes, uint32_t count, BSTR* text);

// Narrows hex or Base64 input with the ANSI code page and decodes it; the bytes are left in
// the transform's output. 0 or an error code.
int32_t DecodeFromText(cryptTRANSFORM& transform, BSTR data);

// The first four bytes as a little-endian number, for ToInt; fewer bytes read as if zeros
// followed them. Needs at least one byte.
LONG LittleEndianInt(const uint8_t* bytes, uint32_t count);

}  // namespace ombrix
