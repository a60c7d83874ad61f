// The DER reading pieces shared by the certificate reader and the CA chain
// reader: a cursor over the bytes and the element readers both formats use.
// Internal to verify/; every reader returns the certificate reader's codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "der/cursor.h"
#include "platform/secure_buffer.h"
#include "x509/certificate.h"

namespace qalv::der {


// The bytes still to read of one element; every read checks Left() first.
class DerCursor {
 public:
  DerCursor() = default;
  DerCursor(const uint8_t* begin, const uint8_t* end) : pos_(begin), end_(end) {}

  bool AtEnd() const { return pos_ == end_; }
  size_t Left() const { return static_cast<size_t>(end_ - pos_); }
  const uint8_t* Position() const { return pos_; }
  const uint8_t* End() const { return end_; }
  uint8_t Peek() const { return *pos_; }
  uint8_t At(size_t index) const { return pos_[index]; }
  void Skip(size_t count) { pos_ += count; }
  bool StartsWith(const uint8_t* bytes, size_t count) const {
    return Left() >= count && std::memcmp(pos_, bytes, count) == 0;
  }
  // Splits off the next `count` bytes (at most Left()) as a cursor of their own.
  DerCursor Take(size_t count) {
    DerCursor part(pos_, pos_ + count);
    pos_ += count;
    return part;
  }

 private:
  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
};

// Lengths are read in at most two bytes, so every element stays under 65540
// bytes and its length fits a DerBuffer.
inline DerBuffer View(uint8_t tag, const uint8_t* begin, const uint8_t* end) {
  return DerBuffer{tag, static_cast<int32_t>(end - begin), begin};
}

inline DerBuffer View(uint8_t tag, const DerCursor& content) {
  return View(tag, content.Position(), content.End());
}

// Same length and same bytes; two empty views are equal.
inline bool SameBytes(const DerBuffer& a, const DerBuffer& b) {
  return a.length == b.length && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
}

// 1 byte below 0x80, or 0x81 / 0x82 and one or two length bytes; the length
// must fit in what is left.
[[nodiscard]] int32_t ReadLength(DerCursor& cur, size_t& length);

// The cursor stands on a tag already checked: reads the length and splits off
// the content.
[[nodiscard]] int32_t ReadContent(DerCursor& cur, DerCursor& content);

[[nodiscard]] int32_t ReadElement(DerCursor& cur, uint8_t tag, DerCursor& content);

// At most four content bytes, not negative.
[[nodiscard]] int32_t ReadSmallInteger(DerCursor& cur, int32_t& value);

// An INTEGER or [2] serial number, kept whatever its size (serial class).
[[nodiscard]] int32_t ReadSerial(DerCursor& cur, DerBuffer& serial);

// AlgorithmIdentifier in two halves, so that a public key's algorithm is
// recognised before its parameters are looked at (algorithm class).
[[nodiscard]] int32_t ReadAlgorithmOid(DerCursor& cur, DerCursor& algorithm, DerBuffer& oid);
[[nodiscard]] int32_t ReadAlgorithmParameters(DerCursor& algorithm);
[[nodiscard]] int32_t ReadAlgorithm(DerCursor& cur, DerBuffer& oid);

// The content of a Name: SEQUENCE OF SET, one attribute each, at least one
// (name class).
[[nodiscard]] int32_t ReadName(DerCursor& name, std::vector<NameEntry>& entries);

// Two decimal digits, or -1.
int32_t TwoDigits(const uint8_t* text);

// The input itself, or its Base64 decoding when the first byte is 'M'.
[[nodiscard]] int32_t CopyInput(const uint8_t* data, size_t length, SecureBuffer& copy);

}  // namespace qalv::der
