// The one way the core reads DER: a checked, non-owning reading position
// over bytes someone else owns, after BoringSSL's CBS. Every read checks its
// own bounds and returns a code; reading an element gives a child cursor
// bounded by that element; what a cursor hands out are views of the bytes
// (spans), never positions to step through unchecked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qalv::der {

using Bytes = std::span<const uint8_t>;

// The codes every DER reader shares; the certificate reader adds class bits
// saying which element failed.
inline constexpr int32_t kNoMemory = 1;
inline constexpr int32_t kOutOfData = 0x14;
inline constexpr int32_t kUnexpectedTag = 0x16;
inline constexpr int32_t kInvalidLength = 0x18;
inline constexpr int32_t kLengthMismatch = 0x1A;

inline constexpr uint8_t kTagBoolean = 0x01;
inline constexpr uint8_t kTagInteger = 0x02;
inline constexpr uint8_t kTagBitString = 0x03;
inline constexpr uint8_t kTagOctetString = 0x04;
inline constexpr uint8_t kTagNull = 0x05;
inline constexpr uint8_t kTagOid = 0x06;
inline constexpr uint8_t kTagUtf8String = 0x0C;
inline constexpr uint8_t kTagUtcTime = 0x17;
inline constexpr uint8_t kTagGeneralizedTime = 0x18;
inline constexpr uint8_t kTagSequence = 0x30;
inline constexpr uint8_t kTagSet = 0x31;
inline constexpr uint8_t kTagContext0 = 0xA0;

// How a header's length may be written. The two formats have always read
// lengths differently, and stored files depend on both:
// - kCertificate: one byte below 0x80, or 0x81 and one byte, or 0x82 and two
//   (so every certificate element is under 64 KiB); any other form is
//   kInvalidLength.
// - kPackage: one byte below 0x80, or 0x80 + n and n bytes for n up to 4
//   (documents run to gigabytes); 0x80 itself reads as length 0, and more
//   than four length bytes is kInvalidLength.
// Either way a length past the bytes that follow the header is kOutOfData,
// and non-minimal encodings are accepted.
enum class LengthRule : uint8_t { kCertificate, kPackage };

// A date and time as stored (UTC): the year after the century rule of the
// reader that read it, the other five as written.
struct Time {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
};

class Cursor {
 public:
  Cursor() = default;
  explicit Cursor(Bytes bytes) : bytes_(bytes) {}

  bool Empty() const { return bytes_.empty(); }
  size_t Left() const { return bytes_.size(); }
  // The bytes not read yet.
  Bytes Rest() const { return bytes_; }
  // True when a byte is left and it is `tag`.
  bool NextIs(uint8_t tag) const { return !bytes_.empty() && bytes_.front() == tag; }
  bool StartsWith(Bytes prefix) const;

  [[nodiscard]] int32_t PeekByte(uint8_t& value) const;
  [[nodiscard]] int32_t ReadByte(uint8_t& value);
  [[nodiscard]] int32_t Skip(size_t count);
  // The next `count` bytes, as a view or as a cursor of their own.
  [[nodiscard]] int32_t ReadBytes(size_t count, Bytes& bytes);
  [[nodiscard]] int32_t ReadBytes(size_t count, Cursor& bytes);

  // One header whose tag must be `tag` (kUnexpectedTag otherwise): the cursor
  // then stands on the content, `length` long, which lies inside what is left.
  [[nodiscard]] int32_t ReadHeader(uint8_t tag, size_t& length, LengthRule rule);
  // One header of any tag.
  [[nodiscard]] int32_t ReadAnyHeader(uint8_t& tag, size_t& length, LengthRule rule);

  // One element whose tag must be `tag`: `content` is bounded by it, and
  // `whole` (when given) is the element with its header.
  [[nodiscard]] int32_t ReadElement(uint8_t tag, Cursor& content, LengthRule rule,
                                    Bytes* whole = nullptr);
  [[nodiscard]] int32_t ReadAnyElement(uint8_t& tag, Cursor& content, LengthRule rule,
                                       Bytes* whole = nullptr);

 private:
  Bytes bytes_;
};

// Same length and same bytes; two empty views are equal.
bool SameBytes(Bytes a, Bytes b);

}  // namespace qalv::der
