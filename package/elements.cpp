#include "package/elements.h"

#include <algorithm>
#include <cstdio>

namespace qalv::tlv {
namespace {

constexpr der::LengthRule kRule = der::LengthRule::kPackage;

// The longest UTCTime content looked at; what follows it is ignored.
constexpr size_t kTimeTextLimit = 63;

}  // namespace

int32_t ReadInteger(der::Cursor& cur, int32_t& value) {
  der::Cursor content;
  if (const int32_t code = cur.ReadElement(der::kTagInteger, content, kRule)) return code;
  const der::Bytes bytes = content.Rest();
  if (bytes.size() > 4 || (!bytes.empty() && bytes[0] >= 0x80)) return kInvalidLength;
  uint32_t result = 0;
  for (const uint8_t byte : bytes) result = (result << 8) | byte;
  value = static_cast<int32_t>(result);
  return 0;
}

int32_t ReadBitString(der::Cursor& cur, der::Bytes& value) {
  der::Cursor content;
  if (const int32_t code = cur.ReadElement(der::kTagBitString, content, kRule)) return code;
  const der::Bytes bytes = content.Rest();
  if (bytes.size() < 2 || bytes[0] != 0) return kInvalidBitString;
  value = bytes.subspan(1);
  return 0;
}

int32_t ReadUtcTime(der::Cursor& cur, der::Time& time) {
  der::Cursor content;
  if (const int32_t code = cur.ReadElement(der::kTagUtcTime, content, kRule)) {
    return code + kBadTime;
  }

  // The content is read as text, as the packages' producers have always
  // written it and as sscanf has always read it: six numbers of up to two
  // characters each (so blanks and signs count as they do for sscanf), ended
  // by the first NUL; anything after them is ignored.
  const der::Bytes bytes = content.Rest().first(std::min(content.Left(), kTimeTextLimit));
  char text[kTimeTextLimit + 1] = {};
  std::copy(bytes.begin(), bytes.end(), text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(text, "%2d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second) != 6) {
    return kBadTime;
  }
  time.year = year < 90 ? 2000 + year : 1900 + year;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  return 0;
}

}  // namespace qalv::tlv
