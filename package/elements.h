// The package format's own element rules, read through der::Cursor with the
// package length rule: INTEGER, BIT STRING and UTCTime as the packages'
// producers have always written them, and the codes the package reader
// returns.
#pragma once

#include <cstdint>

#include "der/cursor.h"

namespace qalv::tlv {

inline constexpr int32_t kNoMemory = der::kNoMemory;
inline constexpr int32_t kOutOfData = der::kOutOfData;
inline constexpr int32_t kUnexpectedTag = der::kUnexpectedTag;
inline constexpr int32_t kInvalidLength = der::kInvalidLength;
inline constexpr int32_t kLengthMismatch = der::kLengthMismatch;
inline constexpr int32_t kInvalidBitString = 28;
// Something the package reader takes from a signed element lies outside the
// extent that element's header declares, which is all its signature covers.
inline constexpr int32_t kOutsideSignedExtent = 29;
// Added to a UTCTime header's code; alone, the text is not six numbers.
inline constexpr int32_t kBadTime = 256;

// A non-negative INTEGER of at most four content bytes (kInvalidLength
// otherwise); an empty one reads as 0.
[[nodiscard]] int32_t ReadInteger(der::Cursor& cur, int32_t& value);

// A BIT STRING whose unused-bits byte is 0 and whose value is not empty
// (kInvalidBitString otherwise); `value` is the content after that byte.
[[nodiscard]] int32_t ReadBitString(der::Cursor& cur, der::Bytes& value);

// A UTCTime read as six two-digit numbers, the year 90 and later in the
// 1900s, the rest in the 2000s; no field is range-checked. Header failures
// come back + kBadTime.
[[nodiscard]] int32_t ReadUtcTime(der::Cursor& cur, der::Time& time);

}  // namespace qalv::tlv
