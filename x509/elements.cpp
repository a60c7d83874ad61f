#include "x509/elements.h"

#include <mbedtls/base64.h>

namespace qalv::x509 {
namespace {

// The Base64 decoder's failures other than a bad character (its output
// buffer being too small), before the class is added.
constexpr int32_t kBase64DecodeFailed = 0x10;

constexpr uint8_t kTagImplicitSerial = 0x82;
constexpr uint8_t kTagPrintableString = 0x13;
constexpr uint8_t kTagT61String = 0x14;
constexpr uint8_t kTagIa5String = 0x16;
constexpr uint8_t kTagUniversalString = 0x1C;
constexpr uint8_t kTagBmpString = 0x1E;

bool IsNameStringTag(uint8_t tag) {
  return tag == der::kTagUtf8String || tag == kTagPrintableString || tag == kTagT61String ||
         tag == kTagIa5String || tag == kTagUniversalString || tag == kTagBmpString;
}

[[nodiscard]] int32_t DecodeBase64(der::Bytes text, SecureBuffer& out) {
  const auto failure = [](int ret) {
    return kClassBase64 | (ret == MBEDTLS_ERR_BASE64_INVALID_CHARACTER ? kBase64InvalidCharacter
                                                                       : kBase64DecodeFailed);
  };
  size_t needed = 0;
  int ret = mbedtls_base64_decode(nullptr, 0, &needed, text.data(), text.size());
  if (ret != 0 && ret != MBEDTLS_ERR_BASE64_BUFFER_TOO_SMALL) return failure(ret);
  if (!out.Allocate(needed)) return kNoMemory;
  size_t written = 0;
  ret = mbedtls_base64_decode(out.data(), out.size(), &written, text.data(), text.size());
  if (ret != 0) return failure(ret);
  // The size asked for counts an incomplete last group the decoder drops.
  out.Shrink(written);
  return 0;
}

}  // namespace

// An empty INTEGER has no value at all and is refused like an oversized one.
int32_t ReadSmallInteger(der::Cursor& cur, int32_t& value) {
  der::Cursor content;
  if (const int32_t ret = cur.ReadElement(der::kTagInteger, content, kLengths)) return ret;
  const der::Bytes bytes = content.Rest();
  if (bytes.empty() || bytes.size() > 4 || (bytes.front() & 0x80) != 0) return kInvalidLength;
  uint32_t number = 0;
  for (const uint8_t byte : bytes) number = (number << 8) | byte;
  value = static_cast<int32_t>(number);
  return 0;
}

int32_t ReadSerial(der::Cursor& cur, TaggedBytes& serial) {
  uint8_t tag = 0;
  if (const int32_t ret = cur.PeekByte(tag)) return kClassSerial | ret;
  if (tag != der::kTagInteger && tag != kTagImplicitSerial) return kClassSerial | kUnexpectedTag;
  der::Cursor content;
  if (const int32_t ret = cur.ReadElement(tag, content, kLengths)) return kClassSerial | ret;
  serial = {tag, content.Rest()};
  return 0;
}

int32_t ReadAlgorithmOid(der::Cursor& cur, der::Cursor& algorithm, der::Bytes& oid) {
  if (const int32_t ret = cur.ReadElement(der::kTagSequence, algorithm, kLengths)) {
    return kClassAlgorithm | ret;
  }
  der::Cursor oidBytes;
  if (const int32_t ret = algorithm.ReadElement(der::kTagOid, oidBytes, kLengths)) {
    return kClassAlgorithm | ret;
  }
  oid = oidBytes.Rest();
  return 0;
}

// Parameters are either absent or one empty NULL closing the identifier.
int32_t ReadAlgorithmParameters(der::Cursor& algorithm) {
  if (algorithm.Empty()) return 0;
  size_t length = 0;
  if (const int32_t ret = algorithm.ReadHeader(der::kTagNull, length, kLengths)) {
    return kClassAlgorithm | ret;
  }
  return algorithm.Empty() ? 0 : (kClassAlgorithm | kLengthMismatch);
}

int32_t ReadAlgorithm(der::Cursor& cur, der::Bytes& oid) {
  der::Cursor algorithm;
  if (const int32_t ret = ReadAlgorithmOid(cur, algorithm, oid)) return ret;
  return ReadAlgorithmParameters(algorithm);
}

int32_t ReadName(der::Cursor& name, std::vector<NameEntry>& entries) {
  do {
    der::Cursor set;
    if (const int32_t ret = name.ReadElement(der::kTagSet, set, kLengths)) return kClassName | ret;
    der::Cursor attribute;
    if (const int32_t ret = set.ReadElement(der::kTagSequence, attribute, kLengths)) {
      return kClassName | ret;
    }
    if (!set.Empty()) return kClassName | kLengthMismatch;

    NameEntry entry;
    der::Cursor oid;
    if (const int32_t ret = attribute.ReadElement(der::kTagOid, oid, kLengths)) {
      return kClassName | ret;
    }
    entry.oid = oid.Rest();
    uint8_t tag = 0;
    if (const int32_t ret = attribute.PeekByte(tag)) return kClassName | ret;
    if (!IsNameStringTag(tag)) return kClassName | kUnexpectedTag;
    der::Cursor value;
    if (const int32_t ret = attribute.ReadElement(tag, value, kLengths)) return kClassName | ret;
    entry.value = {tag, value.Rest()};
    if (!attribute.Empty()) return kClassName | kLengthMismatch;
    entries.push_back(entry);
  } while (!name.Empty());
  return 0;
}

int32_t ReadTwoDigits(der::Cursor& text) {
  const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  uint8_t tens = 0;
  uint8_t units = 0;
  if (text.ReadByte(tens) != 0 || text.ReadByte(units) != 0) return -1;
  if (!digit(tens) || !digit(units)) return -1;
  return (tens - '0') * 10 + (units - '0');
}

int32_t CopyInput(der::Bytes input, SecureBuffer& copy) {
  if (!input.empty() && input.front() == 'M') return DecodeBase64(input, copy);
  return copy.Assign(input.data(), input.size()) ? 0 : kNoMemory;
}

}  // namespace qalv::x509
