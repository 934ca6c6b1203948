// The control's persisted property stream: a 32-bit version word 0x900, then the six persisted
// properties as typed variants (a 16-bit variant type, then the value) in this order:
// type (VT_I4), Optimized (VT_BOOL), FireEvents (VT_BOOL), Mode, Padding, Compression (VT_I4).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>

namespace ombrix {

inline constexpr uint32_t kPropertyStreamVersion = 0x900;
// 4 bytes of version, four VT_I4 variants of 6 bytes and two VT_BOOL variants of 4 bytes.
inline constexpr ULONG kPropertyStreamSize = 36;

struct PersistedProperties {
    int32_t type = 0;
    bool optimized = false;
    bool fire_events = false;
    int32_t mode = 0;
    int32_t padding = 0;
    int32_t compression = 0;
};

// Writes the stream: S_OK, or the stream's failure (STG_E_MEDIUMFULL for a short write).
HRESULT WritePropertyStream(IStream* stream, const PersistedProperties& properties);

// Reads exactly one property stream. E_FAIL for a version above 0x900, DISP_E_TYPEMISMATCH for
// a variant type other than the one written for that property, STG_E_READFAULT for a stream
// that ends early, or the stream's own failure. Nothing is interpreted beyond the two variant
// types, so no stream can name an object to be created.
HRESULT ReadPropertyStream(IStream* stream, PersistedProperties* properties);

}  // namespace ombrix
