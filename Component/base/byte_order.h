// Loads and stores of unsigned integers in a given byte order, at any alignment. The compilers
// turn these into single moves (with a byte swap for big-endian on x86).
#pragma once

#include <cstdint>
#include <cstring>

namespace ombrix {

inline uint16_t LoadLittleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t LoadLittleEndian32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

inline uint64_t LoadLittleEndian64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

inline void StoreLittleEndian32(uint8_t* p, uint32_t v) { memcpy(p, &v, 4); }

inline uint32_t LoadBigEndian32(const uint8_t* p) { return __builtin_bswap32(LoadLittleEndian32(p)); }

inline uint64_t LoadBigEndian64(const uint8_t* p) { return __builtin_bswap64(LoadLittleEndian64(p)); }

inline void StoreBigEndian32(uint8_t* p, uint32_t v) { StoreLittleEndian32(p, __builtin_bswap32(v)); }

inline void StoreBigEndian64(uint8_t* p, uint64_t v) {
    v = __builtin_bswap64(v);
    memcpy(p, &v, 8);
}

}  // namespace ombrix
