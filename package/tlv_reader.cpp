#include "package/tlv_reader.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace qalv {

int32_t ReadTag(TlvCursor& cur, uint8_t expectedTag, int32_t& length) {
  if (cur.left() == 0) return tlv::kOutOfData;
  if (*cur.pos != expectedTag) return tlv::kUnexpectedTag;
  const uint8_t* p = cur.pos + 1;
  if (p == cur.end) return tlv::kOutOfData;

  uint32_t value = *p++;
  if (value & 0x80) {
    const uint32_t count = value & 0x7F;
    if (count > 4) return tlv::kInvalidLength;
    if (static_cast<size_t>(cur.end - p) < count) return tlv::kOutOfData;
    value = 0;
    for (uint32_t i = 0; i < count; ++i) value = (value << 8) | *p++;
  }
  // A length beyond INT32_MAX cannot be held, and so cannot fit the data.
  if (value > static_cast<uint32_t>(INT32_MAX) || value > static_cast<size_t>(cur.end - p)) {
    return tlv::kOutOfData;
  }
  cur.pos = p;
  length = static_cast<int32_t>(value);
  return 0;
}

int32_t ReadInteger(TlvCursor& cur, int32_t& value) {
  int32_t length = 0;
  if (const int32_t code = ReadTag(cur, tlv::kTagInteger, length)) return code;
  if (length > 4 || (length > 0 && cur.pos[0] >= 0x80)) return tlv::kInvalidLength;
  uint32_t result = 0;
  for (int32_t i = 0; i < length; ++i) result = (result << 8) | cur.pos[i];
  value = static_cast<int32_t>(result);
  cur.pos += length;
  return 0;
}

int32_t ReadUtcTime(TlvCursor& cur, der::Time& time) {
  int32_t length = 0;
  if (const int32_t code = ReadTag(cur, tlv::kTagUtcTime, length)) return code + tlv::kBadTime;

  // The content is read as text, as the packages' producers have always
  // written it: six two-digit numbers, anything after them ignored.
  char text[64] = {};
  std::copy_n(cur.pos, std::min<int32_t>(length, 63), text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text, "%2d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second) != 6) {
    return tlv::kBadTime;
  }
  time.year = year < 90 ? 2000 + year : 1900 + year;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  cur.pos += length;
  return 0;
}

int32_t ReadBitString(TlvCursor& cur, der::Bytes& value) {
  int32_t length = 0;
  if (const int32_t code = ReadTag(cur, tlv::kTagBitString, length)) return code;
  if (length < 2 || cur.pos[0] != 0) return tlv::kInvalidBitString;
  value = der::Bytes(cur.pos + 1, static_cast<size_t>(length) - 1);
  cur.pos += length;
  return 0;
}

}  // namespace qalv
