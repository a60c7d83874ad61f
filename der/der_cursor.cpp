#include "der/der_cursor.h"

#include <mbedtls/base64.h>

namespace qalv::der {
namespace {

using namespace x509;

// The Base64 decoder's failures other than a bad character (its output
// buffer being too small), before the class is added.
constexpr int32_t kBase64DecodeFailed = 0x10;

constexpr uint8_t kTagImplicitSerial = 0x82;
constexpr uint8_t kTagUtf8String = 0x0C;
constexpr uint8_t kTagPrintableString = 0x13;
constexpr uint8_t kTagT61String = 0x14;
constexpr uint8_t kTagIa5String = 0x16;
constexpr uint8_t kTagUniversalString = 0x1C;
constexpr uint8_t kTagBmpString = 0x1E;

bool IsNameStringTag(uint8_t tag) {
  return tag == kTagUtf8String || tag == kTagPrintableString || tag == kTagT61String ||
         tag == kTagIa5String || tag == kTagUniversalString || tag == kTagBmpString;
}

[[nodiscard]] int32_t DecodeBase64(const uint8_t* text, size_t length, SecureBuffer& out) {
  const auto failure = [](int ret) {
    return kClassBase64 | (ret == MBEDTLS_ERR_BASE64_INVALID_CHARACTER ? kBase64InvalidCharacter
                                                                       : kBase64DecodeFailed);
  };
  size_t needed = 0;
  int ret = mbedtls_base64_decode(nullptr, 0, &needed, text, length);
  if (ret != 0 && ret != MBEDTLS_ERR_BASE64_BUFFER_TOO_SMALL) return failure(ret);
  if (!out.Allocate(needed)) return kNoMemory;
  size_t written = 0;
  ret = mbedtls_base64_decode(out.data(), out.size(), &written, text, length);
  if (ret != 0) return failure(ret);
  // The size asked for counts an incomplete last group the decoder drops.
  out.Shrink(written);
  return 0;
}

}  // namespace

int32_t ReadLength(DerCursor& cur, size_t& length) {
  if (cur.AtEnd()) return kOutOfData;
  const uint8_t first = cur.Peek();
  if (first < 0x80) {
    length = first;
    cur.Skip(1);
  } else if (first == 0x81) {
    if (cur.Left() < 2) return kOutOfData;
    length = cur.At(1);
    cur.Skip(2);
  } else if (first == 0x82) {
    if (cur.Left() < 3) return kOutOfData;
    length = (static_cast<size_t>(cur.At(1)) << 8) | cur.At(2);
    cur.Skip(3);
  } else {
    return kInvalidLength;
  }
  return length > cur.Left() ? kOutOfData : 0;
}

int32_t ReadContent(DerCursor& cur, DerCursor& content) {
  cur.Skip(1);
  size_t length = 0;
  if (const int32_t ret = ReadLength(cur, length)) return ret;
  content = cur.Take(length);
  return 0;
}

int32_t ReadElement(DerCursor& cur, uint8_t tag, DerCursor& content) {
  if (cur.AtEnd()) return kOutOfData;
  if (cur.Peek() != tag) return kUnexpectedTag;
  return ReadContent(cur, content);
}

// An empty INTEGER has no value at all and is refused like an oversized one.
int32_t ReadSmallInteger(DerCursor& cur, int32_t& value) {
  DerCursor content;
  if (const int32_t ret = ReadElement(cur, kTagInteger, content)) return ret;
  if (content.AtEnd() || content.Left() > 4 || (content.Peek() & 0x80) != 0) return kInvalidLength;
  uint32_t number = 0;
  for (size_t i = 0; i < content.Left(); ++i) number = (number << 8) | content.At(i);
  value = static_cast<int32_t>(number);
  return 0;
}

int32_t ReadSerial(DerCursor& cur, DerBuffer& serial) {
  if (cur.AtEnd()) return kClassSerial | kOutOfData;
  const uint8_t tag = cur.Peek();
  if (tag != kTagInteger && tag != kTagImplicitSerial) return kClassSerial | kUnexpectedTag;
  DerCursor content;
  if (const int32_t ret = ReadContent(cur, content)) return kClassSerial | ret;
  serial = View(tag, content);
  return 0;
}

int32_t ReadAlgorithmOid(DerCursor& cur, DerCursor& algorithm, DerBuffer& oid) {
  if (const int32_t ret = ReadElement(cur, kTagSequence, algorithm)) return kClassAlgorithm | ret;
  DerCursor oidBytes;
  if (const int32_t ret = ReadElement(algorithm, kTagOid, oidBytes)) return kClassAlgorithm | ret;
  oid = View(kTagOid, oidBytes);
  return 0;
}

// Parameters are either absent or one empty NULL closing the identifier.
int32_t ReadAlgorithmParameters(DerCursor& algorithm) {
  if (algorithm.AtEnd()) return 0;
  if (algorithm.Peek() != kTagNull) return kClassAlgorithm | kUnexpectedTag;
  algorithm.Skip(1);
  size_t length = 0;
  if (const int32_t ret = ReadLength(algorithm, length)) return kClassAlgorithm | ret;
  return algorithm.AtEnd() ? 0 : (kClassAlgorithm | kLengthMismatch);
}

int32_t ReadAlgorithm(DerCursor& cur, DerBuffer& oid) {
  DerCursor algorithm;
  if (const int32_t ret = ReadAlgorithmOid(cur, algorithm, oid)) return ret;
  return ReadAlgorithmParameters(algorithm);
}

int32_t ReadName(DerCursor& name, std::vector<NameEntry>& entries) {
  do {
    DerCursor set;
    if (const int32_t ret = ReadElement(name, kTagSet, set)) return kClassName | ret;
    DerCursor attribute;
    if (const int32_t ret = ReadElement(set, kTagSequence, attribute)) return kClassName | ret;
    if (!set.AtEnd()) return kClassName | kLengthMismatch;

    NameEntry entry;
    DerCursor oid;
    if (const int32_t ret = ReadElement(attribute, kTagOid, oid)) return kClassName | ret;
    entry.oid = View(kTagOid, oid);
    if (attribute.AtEnd()) return kClassName | kOutOfData;
    const uint8_t tag = attribute.Peek();
    if (!IsNameStringTag(tag)) return kClassName | kUnexpectedTag;
    DerCursor value;
    if (const int32_t ret = ReadContent(attribute, value)) return kClassName | ret;
    entry.value = View(tag, value);
    if (!attribute.AtEnd()) return kClassName | kLengthMismatch;
    entries.push_back(entry);
  } while (!name.AtEnd());
  return 0;
}

int32_t TwoDigits(const uint8_t* text) {
  const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  if (!digit(text[0]) || !digit(text[1])) return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

int32_t CopyInput(const uint8_t* data, size_t length, SecureBuffer& copy) {
  if (length != 0 && data[0] == 'M') return DecodeBase64(data, length, copy);
  return copy.Assign(data, length) ? 0 : kNoMemory;
}

}  // namespace qalv::der
