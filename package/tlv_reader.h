// The four element readers of the package format: header, INTEGER, UTCTime
// and BIT STRING. Each checks the bytes left before it touches them and
// returns its code at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "der/cursor.h"

namespace qalv {

// A non-owning cursor over [pos, end).
struct TlvCursor {
  const uint8_t* pos = nullptr;
  const uint8_t* end = nullptr;

  size_t left() const { return static_cast<size_t>(end - pos); }
};

namespace tlv {
inline constexpr int32_t kNoMemory = 1;
inline constexpr int32_t kOutOfData = 20;
inline constexpr int32_t kUnexpectedTag = 22;
inline constexpr int32_t kInvalidLength = 24;
inline constexpr int32_t kLengthMismatch = 26;
inline constexpr int32_t kInvalidBitString = 28;
// Something the package reader takes from a signed element lies outside the
// extent that element's header declares, which is all its signature covers.
inline constexpr int32_t kOutsideSignedExtent = 29;
inline constexpr int32_t kBadTime = 256;

inline constexpr uint8_t kTagInteger = 0x02;
inline constexpr uint8_t kTagBitString = 0x03;
inline constexpr uint8_t kTagUtf8String = 0x0C;
inline constexpr uint8_t kTagUtcTime = 0x17;
inline constexpr uint8_t kTagSequence = 0x30;
}  // namespace tlv

// One header; on success the cursor stands on the first content byte and
// `length` is the content length, which lies inside the data.
[[nodiscard]] int32_t ReadTag(TlvCursor& cur, uint8_t expectedTag, int32_t& length);

// A non-negative INTEGER of at most 4 bytes; the cursor ends after it.
[[nodiscard]] int32_t ReadInteger(TlvCursor& cur, int32_t& value);

// A UTCTime read as six two-digit numbers; header failures come back + 256.
[[nodiscard]] int32_t ReadUtcTime(TlvCursor& cur, der::Time& time);

// A BIT STRING whose unused-bits byte is 0 and whose value is not empty;
// `value` is the content after the unused-bits byte.
[[nodiscard]] int32_t ReadBitString(TlvCursor& cur, der::Bytes& value);

// The span from `start` to the end of the content the cursor has just entered
// (a whole element, header included).
inline der::Bytes WholeElement(const uint8_t* start, const TlvCursor& cur, int32_t length) {
  return {start, static_cast<size_t>(cur.pos - start) + static_cast<size_t>(length)};
}

}  // namespace qalv
