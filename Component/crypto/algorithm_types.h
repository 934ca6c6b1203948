// The control's Type values as the engine knows them.
#pragma once

#include <cstdint>

namespace ombrix::algorithm_type {

inline constexpr int32_t kDES = 0;
inline constexpr int32_t kTripleDES = 1;
inline constexpr int32_t kAES = 2;
inline constexpr int32_t kAES192 = 3;
inline constexpr int32_t kAES256 = 4;
inline constexpr int32_t kBlowfish = 5;
inline constexpr int32_t kCast = 6;
inline constexpr int32_t kRC2 = 7;
inline constexpr int32_t kRC4 = 8;
inline constexpr int32_t kRC5 = 9;
inline constexpr int32_t kUNIXcrypt = 10;
inline constexpr int32_t kUNIXcrypt3 = 11;
inline constexpr int32_t kMD5 = 100;
inline constexpr int32_t kSHA1 = 101;
inline constexpr int32_t kSHA256 = 102;
inline constexpr int32_t kSHA512 = 103;
inline constexpr int32_t kSHA384 = 104;
inline constexpr int32_t kCRC16 = 105;
inline constexpr int32_t kCRC32 = 106;
inline constexpr int32_t kRSA = 1000;
inline constexpr int32_t kDSA = 1001;
inline constexpr int32_t kRSASHA1 = 1101;
inline constexpr int32_t kDSASHA1 = 1102;
inline constexpr int32_t kNone = 65535;

// Mode, Padding and Compression values.
inline constexpr int32_t kModeECB = 0;
inline constexpr int32_t kModeCBC = 1;
inline constexpr int32_t kModeCFB = 2;
inline constexpr int32_t kModeOFB = 3;
inline constexpr int32_t kPadNull = 0;
inline constexpr int32_t kPadSpace = 1;
inline constexpr int32_t kPadRandom = 2;
inline constexpr int32_t kPadPKCS7 = 3;
inline constexpr int32_t kNoCompression = 0;
inline constexpr int32_t kZlibCompression = 1;
inline constexpr int32_t kGZipCompression = 2;

}  // namespace ombrix::algorithm_type
