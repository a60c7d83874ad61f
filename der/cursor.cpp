#include "der/cursor.h"

#include <algorithm>
#include <climits>

namespace qalv::der {
namespace {

// The length after a tag; `header` counts the length bytes read.
[[nodiscard]] int32_t ReadLength(Bytes bytes, LengthRule rule, size_t& length, size_t& header) {
  if (bytes.empty()) return kOutOfData;
  const uint8_t first = bytes[0];
  size_t count = 0;
  if (first < 0x80) {
    count = 0;
  } else if (rule == LengthRule::kCertificate) {
    if (first != 0x81 && first != 0x82) return kInvalidLength;
    count = first & 0x7F;
  } else {
    count = first & 0x7F;
    if (count > 4) return kInvalidLength;
  }
  if (bytes.size() - 1 < count) return kOutOfData;
  uint64_t value = first < 0x80 ? first : 0;
  for (size_t i = 1; i <= count; ++i) value = (value << 8) | bytes[i];
  header = 1 + count;
  // A length no int32_t can hold cannot fit the data any reader keeps either.
  if (value > static_cast<uint64_t>(INT32_MAX) || value > bytes.size() - header) return kOutOfData;
  length = static_cast<size_t>(value);
  return 0;
}

}  // namespace

bool Cursor::StartsWith(Bytes prefix) const {
  return bytes_.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes_.begin());
}

int32_t Cursor::PeekByte(uint8_t& value) const {
  if (bytes_.empty()) return kOutOfData;
  value = bytes_[0];
  return 0;
}

int32_t Cursor::ReadByte(uint8_t& value) {
  if (const int32_t ret = PeekByte(value)) return ret;
  bytes_ = bytes_.subspan(1);
  return 0;
}

int32_t Cursor::Skip(size_t count) {
  if (count > bytes_.size()) return kOutOfData;
  bytes_ = bytes_.subspan(count);
  return 0;
}

int32_t Cursor::ReadBytes(size_t count, Bytes& bytes) {
  if (count > bytes_.size()) return kOutOfData;
  bytes = bytes_.first(count);
  bytes_ = bytes_.subspan(count);
  return 0;
}

int32_t Cursor::ReadBytes(size_t count, Cursor& bytes) {
  Bytes view;
  if (const int32_t ret = ReadBytes(count, view)) return ret;
  bytes = Cursor(view);
  return 0;
}

int32_t Cursor::ReadAnyHeader(uint8_t& tag, size_t& length, LengthRule rule) {
  if (bytes_.empty()) return kOutOfData;
  size_t header = 0;
  if (const int32_t ret = ReadLength(bytes_.subspan(1), rule, length, header)) return ret;
  tag = bytes_[0];
  bytes_ = bytes_.subspan(1 + header);
  return 0;
}

int32_t Cursor::ReadHeader(uint8_t tag, size_t& length, LengthRule rule) {
  if (bytes_.empty()) return kOutOfData;
  if (bytes_[0] != tag) return kUnexpectedTag;
  uint8_t read = 0;
  return ReadAnyHeader(read, length, rule);
}

int32_t Cursor::ReadAnyElement(uint8_t& tag, Cursor& content, LengthRule rule, Bytes* whole) {
  const Bytes start = bytes_;
  size_t length = 0;
  if (const int32_t ret = ReadAnyHeader(tag, length, rule)) return ret;
  const size_t header = start.size() - bytes_.size();
  if (whole != nullptr) *whole = start.first(header + length);
  return ReadBytes(length, content);
}

int32_t Cursor::ReadElement(uint8_t tag, Cursor& content, LengthRule rule, Bytes* whole) {
  if (bytes_.empty()) return kOutOfData;
  if (bytes_[0] != tag) return kUnexpectedTag;
  uint8_t read = 0;
  return ReadAnyElement(read, content, rule, whole);
}

bool SameBytes(Bytes a, Bytes b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

}  // namespace qalv::der
