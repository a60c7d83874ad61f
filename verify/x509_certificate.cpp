#include "verify/x509_certificate.h"

#include <mbedtls/base64.h>
#include <mbedtls/bignum.h>

#include <cstring>
#include <new>

#include "platform/trace.h"

namespace qalv {
namespace {

using namespace x509;

// The Base64 decoder's failures other than a bad character (its output
// buffer being too small), before the class is added.
constexpr int32_t kBase64DecodeFailed = 0x10;

constexpr uint8_t kTagBoolean = 0x01;
constexpr uint8_t kTagInteger = 0x02;
constexpr uint8_t kTagBitString = 0x03;
constexpr uint8_t kTagOctetString = 0x04;
constexpr uint8_t kTagNull = 0x05;
constexpr uint8_t kTagOid = 0x06;
constexpr uint8_t kTagUtf8String = 0x0C;
constexpr uint8_t kTagPrintableString = 0x13;
constexpr uint8_t kTagT61String = 0x14;
constexpr uint8_t kTagIa5String = 0x16;
constexpr uint8_t kTagUtcTime = 0x17;
constexpr uint8_t kTagGeneralizedTime = 0x18;
constexpr uint8_t kTagUniversalString = 0x1C;
constexpr uint8_t kTagBmpString = 0x1E;
constexpr uint8_t kTagSequence = 0x30;
constexpr uint8_t kTagSet = 0x31;
constexpr uint8_t kTagVersion = 0xA0;
constexpr uint8_t kTagImplicitSerial = 0x82;
constexpr uint8_t kTagIssuerUniqueId = 0xA1;
constexpr uint8_t kTagSubjectUniqueId = 0xA2;
constexpr uint8_t kTagExtensions = 0xA3;
// Fields of an AuthorityKeyIdentifier.
constexpr uint8_t kTagKeyIdentifier = 0x80;
constexpr uint8_t kTagAuthorityCertIssuer = 0x81;
constexpr uint8_t kTagAuthorityCertSerial = 0x82;

constexpr size_t kPkcs1OidLength = 9;
constexpr uint8_t kPkcs1Prefix[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01};
constexpr uint8_t kRsaEncryption = 1;
constexpr uint8_t kMd2WithRsa = 2;
constexpr uint8_t kSha256WithRsa = 11;

// An extension starts with its OID element; these three are read, the rest
// skipped.
constexpr size_t kExtensionOidLength = 5;
constexpr uint8_t kAuthorityKeyIdOid[] = {0x06, 0x03, 0x55, 0x1D, 0x23};
constexpr uint8_t kSubjectKeyIdOid[] = {0x06, 0x03, 0x55, 0x1D, 0x0E};
constexpr uint8_t kBasicConstraintsOid[] = {0x06, 0x03, 0x55, 0x1D, 0x13};

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

// Lengths are read in at most two bytes, so a whole certificate stays under
// 65540 bytes and every length fits the record's fields.
DerBuffer View(uint8_t tag, const uint8_t* begin, const uint8_t* end) {
  return DerBuffer{tag, static_cast<int32_t>(end - begin), begin};
}

DerBuffer View(uint8_t tag, const DerCursor& content) {
  return View(tag, content.Position(), content.End());
}

[[nodiscard]] int32_t ReadLength(DerCursor& cur, size_t& length) {
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

// The cursor stands on a tag already checked: reads the length and splits off
// the content.
[[nodiscard]] int32_t ReadContent(DerCursor& cur, DerCursor& content) {
  cur.Skip(1);
  size_t length = 0;
  if (const int32_t ret = ReadLength(cur, length)) return ret;
  content = cur.Take(length);
  return 0;
}

[[nodiscard]] int32_t ReadElement(DerCursor& cur, uint8_t tag, DerCursor& content) {
  if (cur.AtEnd()) return kOutOfData;
  if (cur.Peek() != tag) return kUnexpectedTag;
  return ReadContent(cur, content);
}

// An element that may be left out: absent (tag 0) when the next tag differs.
[[nodiscard]] int32_t ReadOptional(DerCursor& cur, uint8_t tag, DerBuffer& out) {
  if (cur.AtEnd() || cur.Peek() != tag) return 0;
  DerCursor content;
  if (const int32_t ret = ReadContent(cur, content)) return ret;
  out = View(tag, content);
  return 0;
}

[[nodiscard]] int32_t ReadBoolean(DerCursor& cur, int32_t& value) {
  DerCursor content;
  if (const int32_t ret = ReadElement(cur, kTagBoolean, content)) return ret;
  if (content.Left() != 1) return kInvalidLength;
  value = content.Peek() != 0 ? 1 : 0;
  return 0;
}

// At most four content bytes, not negative. An empty INTEGER has no value at
// all and is refused the same way.
[[nodiscard]] int32_t ReadSmallInteger(DerCursor& cur, int32_t& value) {
  DerCursor content;
  if (const int32_t ret = ReadElement(cur, kTagInteger, content)) return ret;
  if (content.AtEnd() || content.Left() > 4 || (content.Peek() & 0x80) != 0) return kInvalidLength;
  uint32_t number = 0;
  for (size_t i = 0; i < content.Left(); ++i) number = (number << 8) | content.At(i);
  value = static_cast<int32_t>(number);
  return 0;
}

// Unsigned big-endian, whatever the sign bit says. The big-number library
// fails only when it cannot get memory.
[[nodiscard]] int32_t ReadBigInteger(DerCursor& cur, mbedtls_mpi& number) {
  DerCursor content;
  if (const int32_t ret = ReadElement(cur, kTagInteger, content)) return ret;
  if (mbedtls_mpi_read_binary(&number, content.Position(), content.Left()) != 0) return kNoMemory;
  return 0;
}

// An AlgorithmIdentifier is read in two halves so that a public key's
// algorithm is recognised before its parameters are looked at.
[[nodiscard]] int32_t ReadAlgorithmOid(DerCursor& cur, DerCursor& algorithm, DerBuffer& oid) {
  if (const int32_t ret = ReadElement(cur, kTagSequence, algorithm)) return kClassAlgorithm | ret;
  DerCursor oidBytes;
  if (const int32_t ret = ReadElement(algorithm, kTagOid, oidBytes)) return kClassAlgorithm | ret;
  oid = View(kTagOid, oidBytes);
  return 0;
}

// Parameters are either absent or one empty NULL closing the identifier.
[[nodiscard]] int32_t ReadAlgorithmParameters(DerCursor& algorithm) {
  if (algorithm.AtEnd()) return 0;
  if (algorithm.Peek() != kTagNull) return kClassAlgorithm | kUnexpectedTag;
  algorithm.Skip(1);
  size_t length = 0;
  if (const int32_t ret = ReadLength(algorithm, length)) return kClassAlgorithm | ret;
  return algorithm.AtEnd() ? 0 : (kClassAlgorithm | kLengthMismatch);
}

[[nodiscard]] int32_t ReadAlgorithm(DerCursor& cur, DerBuffer& oid) {
  DerCursor algorithm;
  if (const int32_t ret = ReadAlgorithmOid(cur, algorithm, oid)) return ret;
  return ReadAlgorithmParameters(algorithm);
}

bool IsPkcs1Oid(const DerBuffer& oid) {
  return oid.length == static_cast<int32_t>(kPkcs1OidLength) &&
         std::memcmp(oid.data, kPkcs1Prefix, sizeof kPkcs1Prefix) == 0;
}

bool IsSupportedSignatureOid(const DerBuffer& oid) {
  if (!IsPkcs1Oid(oid)) return false;
  const uint8_t last = oid.data[kPkcs1OidLength - 1];
  return last >= kMd2WithRsa && last <= kSha256WithRsa;
}

// Two decimal digits, or -1, which no field accepts.
int32_t TwoDigits(const uint8_t* text) {
  const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
  if (!digit(text[0]) || !digit(text[1])) return -1;
  return (text[0] - '0') * 10 + (text[1] - '0');
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsValidTime(const CertTime& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) &&
         t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59;
}

// UTCTime or GeneralizedTime in UTC, whole seconds, with or without the "Z".
[[nodiscard]] int32_t ReadTime(DerCursor& cur, CertTime& time) {
  if (cur.AtEnd()) return kClassDate | kOutOfData;
  size_t yearDigits = 0;
  if (cur.Peek() == kTagUtcTime) {
    yearDigits = 2;
  } else if (cur.Peek() == kTagGeneralizedTime) {
    yearDigits = 4;
  } else {
    return kClassDate | kUnexpectedTag;
  }
  DerCursor content;
  if (const int32_t ret = ReadContent(cur, content)) return kClassDate | ret;
  const size_t length = content.Left();
  const uint8_t* text = content.Position();
  const bool bare = length == yearDigits + 10;
  const bool zulu = length == yearDigits + 11 && text[length - 1] == 'Z';
  if (!bare && !zulu) return kClassDate;

  int32_t year = 0;
  for (size_t i = 0; i < yearDigits; i += 2) {
    const int32_t pair = TwoDigits(text + i);
    if (pair < 0) return kClassDate;
    year = year * 100 + pair;
  }
  if (yearDigits == 2) year += year < 50 ? 2000 : 1900;
  const uint8_t* rest = text + yearDigits;
  const CertTime read{year,
                      TwoDigits(rest),
                      TwoDigits(rest + 2),
                      TwoDigits(rest + 4),
                      TwoDigits(rest + 6),
                      TwoDigits(rest + 8)};
  if (!IsValidTime(read)) return kClassDate;
  time = read;
  return 0;
}

bool IsNameStringTag(uint8_t tag) {
  return tag == kTagUtf8String || tag == kTagPrintableString || tag == kTagT61String ||
         tag == kTagIa5String || tag == kTagUniversalString || tag == kTagBmpString;
}

// Name ::= SEQUENCE OF SET, each SET holding exactly one attribute; at least
// one attribute.
[[nodiscard]] int32_t ReadName(DerCursor& name, std::vector<NameEntry>& entries) {
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

[[nodiscard]] int32_t ReadPublicKey(DerCursor& keyInfo, X509Certificate& cert) {
  DerCursor algorithm;
  if (const int32_t ret = ReadAlgorithmOid(keyInfo, algorithm, cert.publicKeyAlgorithm)) return ret;
  if (!IsPkcs1Oid(cert.publicKeyAlgorithm) ||
      cert.publicKeyAlgorithm.data[kPkcs1OidLength - 1] != kRsaEncryption) {
    return kUnknownPublicKeyAlgorithm;
  }
  if (const int32_t ret = ReadAlgorithmParameters(algorithm)) return ret;

  DerCursor bits;
  if (const int32_t ret = ReadElement(keyInfo, kTagBitString, bits)) return kClassPublicKey | ret;
  if (bits.AtEnd()) return kClassPublicKey | kOutOfData;
  if (bits.Peek() != 0) return kClassPublicKey;
  bits.Skip(1);
  DerCursor key;
  if (const int32_t ret = ReadElement(bits, kTagSequence, key)) return kClassPublicKey | ret;
  if (!bits.AtEnd()) return kClassPublicKey | kLengthMismatch;
  mbedtls_rsa_context* rsa = cert.publicKey.get();
  if (const int32_t ret = ReadBigInteger(key, rsa->N)) return kClassPublicKey | ret;
  if (const int32_t ret = ReadBigInteger(key, rsa->E)) return kClassPublicKey | ret;
  if (!key.AtEnd() || !keyInfo.AtEnd()) return kClassPublicKey | kLengthMismatch;
  return 0;
}

bool PassesKeyCheck(const mbedtls_rsa_context& rsa) {
  const size_t modulusBits = mbedtls_mpi_bitlen(&rsa.N);
  const size_t exponentBits = mbedtls_mpi_bitlen(&rsa.E);
  return mbedtls_mpi_get_bit(&rsa.N, 0) == 1 && mbedtls_mpi_get_bit(&rsa.E, 0) == 1 &&
         modulusBits >= 128 && modulusBits <= 4096 && exponentBits >= 2 && exponentBits <= 64;
}

[[nodiscard]] int32_t ReadAuthorityKeyId(DerCursor& value, X509Certificate& cert) {
  DerCursor fields;
  if (const int32_t ret = ReadElement(value, kTagSequence, fields)) return kClassExtensions | ret;
  while (!fields.AtEnd()) {
    const uint8_t tag = fields.Peek();
    if (tag != kTagKeyIdentifier && tag != kTagAuthorityCertIssuer &&
        tag != kTagAuthorityCertSerial) {
      return kClassExtensions | kUnexpectedTag;
    }
    DerCursor field;
    if (const int32_t ret = ReadContent(fields, field)) return kClassExtensions | ret;
    if (tag == kTagKeyIdentifier) cert.authorityKeyId = View(tag, field);
  }
  return 0;
}

[[nodiscard]] int32_t ReadSubjectKeyId(DerCursor& value, X509Certificate& cert) {
  DerCursor id;
  if (const int32_t ret = ReadElement(value, kTagOctetString, id)) return kClassExtensions | ret;
  cert.subjectKeyId = View(kTagOctetString, id);
  return 0;
}

// A cA given as an INTEGER counts when it is non-zero.
[[nodiscard]] int32_t ReadBasicConstraints(DerCursor& value, int32_t critical,
                                           X509Certificate& cert) {
  DerCursor constraints;
  if (const int32_t ret = ReadElement(value, kTagSequence, constraints)) {
    return kClassExtensions | ret;
  }
  if (constraints.AtEnd()) return 0;
  int32_t ca = 0;
  const int32_t ret = constraints.Peek() == kTagBoolean ? ReadBoolean(constraints, ca)
                                                        : ReadSmallInteger(constraints, ca);
  if (ret != 0) return kClassExtensions | ret;
  cert.isCa = ca != 0 && critical != 0 ? 1 : 0;
  if (constraints.AtEnd()) return 0;
  int32_t pathLength = 0;
  if (const int32_t pathRet = ReadSmallInteger(constraints, pathLength)) {
    return kClassExtensions | pathRet;
  }
  return constraints.AtEnd() ? 0 : (kClassExtensions | kLengthMismatch);
}

// `critical` carries over from one extension to the next on purpose: the CA
// decision depends on the last critical flag written before BasicConstraints.
[[nodiscard]] int32_t ReadExtension(DerCursor& extension, int32_t& critical,
                                    X509Certificate& cert) {
  const bool authorityKeyId = extension.StartsWith(kAuthorityKeyIdOid, kExtensionOidLength);
  const bool subjectKeyId = extension.StartsWith(kSubjectKeyIdOid, kExtensionOidLength);
  const bool basicConstraints = extension.StartsWith(kBasicConstraintsOid, kExtensionOidLength);
  if (!authorityKeyId && !subjectKeyId && !basicConstraints) return 0;
  extension.Skip(kExtensionOidLength);

  if (!extension.AtEnd() && extension.Peek() == kTagBoolean) {
    if (const int32_t ret = ReadBoolean(extension, critical)) return kClassExtensions | ret;
  }
  DerCursor value;
  if (const int32_t ret = ReadElement(extension, kTagOctetString, value)) {
    return kClassExtensions | ret;
  }
  if (!extension.AtEnd()) return kClassExtensions | kLengthMismatch;

  int32_t ret = 0;
  if (authorityKeyId) {
    ret = ReadAuthorityKeyId(value, cert);
  } else if (subjectKeyId) {
    ret = ReadSubjectKeyId(value, cert);
  } else {
    ret = ReadBasicConstraints(value, critical, cert);
  }
  if (ret != 0) return ret;
  return value.AtEnd() ? 0 : (kClassExtensions | kLengthMismatch);
}

[[nodiscard]] int32_t ReadExtensions(DerCursor& tbs, X509Certificate& cert) {
  if (const int32_t ret = ReadOptional(tbs, kTagExtensions, cert.extensions)) return ret;
  if (cert.extensions.tag == 0) return 0;
  DerCursor outer(cert.extensions.data, cert.extensions.data + cert.extensions.length);
  DerCursor extensions;
  if (const int32_t ret = ReadElement(outer, kTagSequence, extensions)) {
    return kClassExtensions | ret;
  }
  if (!outer.AtEnd()) return kClassExtensions | kLengthMismatch;
  int32_t critical = 1;
  while (!extensions.AtEnd()) {
    DerCursor extension;
    if (const int32_t ret = ReadElement(extensions, kTagSequence, extension)) {
      return kClassExtensions | ret;
    }
    if (const int32_t ret = ReadExtension(extension, critical, cert)) return ret;
  }
  return 0;
}

// Two absent identifiers are equal too: a version 3 certificate without
// either counts as self-signed.
bool SameKeyId(const DerBuffer& a, const DerBuffer& b) {
  return a.length == b.length && (a.length == 0 || std::memcmp(a.data, b.data, a.length) == 0);
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

[[nodiscard]] int32_t CopyInput(const uint8_t* data, size_t length, SecureBuffer& copy) {
  if (length != 0 && data[0] == 'M') return DecodeBase64(data, length, copy);
  return copy.Assign(data, length) ? 0 : kNoMemory;
}

void LogTime(const char* format, const CertTime& t) {
  trace::Debug(format, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

[[nodiscard]] int32_t ReadCertificate(X509Certificate& cert) {
  const uint8_t* begin = cert.rawCopy.data();
  const uint8_t* end = begin + cert.rawCopy.size();
  DerCursor input(begin, end);
  DerCursor certificate;
  if (ReadElement(input, kTagSequence, certificate) != 0) return kClassFormat;
  if (!input.AtEnd()) return kClassFormat | kLengthMismatch;
  cert.raw = View(kTagSequence, begin, end);

  const uint8_t* tbsBegin = certificate.Position();
  DerCursor tbs;
  if (const int32_t ret = ReadElement(certificate, kTagSequence, tbs)) return kClassFormat | ret;
  cert.tbs = View(kTagSequence, tbsBegin, tbs.End());
  trace::Debug("TBS len=%d\n", static_cast<int>(cert.tbs.length));

  int32_t versionNumber = 0;
  if (tbs.AtEnd()) return kOutOfData;
  if (tbs.Peek() == kTagVersion) {
    DerCursor version;
    if (const int32_t ret = ReadContent(tbs, version)) return ret;
    if (const int32_t ret = ReadSmallInteger(version, versionNumber)) return kClassVersion | ret;
    if (!version.AtEnd()) return kClassVersion | kLengthMismatch;
  }

  if (tbs.AtEnd()) return kClassSerial | kOutOfData;
  const uint8_t serialTag = tbs.Peek();
  if (serialTag != kTagInteger && serialTag != kTagImplicitSerial) {
    return kClassSerial | kUnexpectedTag;
  }
  DerCursor serial;
  if (const int32_t ret = ReadContent(tbs, serial)) return kClassSerial | ret;
  cert.serial = View(serialTag, serial);

  if (const int32_t ret = ReadAlgorithm(tbs, cert.sigAlgorithm)) return ret;
  if (versionNumber >= 3) return kUnknownVersion;
  cert.version = versionNumber + 1;
  if (!IsSupportedSignatureOid(cert.sigAlgorithm)) return kUnknownSignatureAlgorithm;

  const uint8_t* issuerBegin = tbs.Position();
  DerCursor issuer;
  if (const int32_t ret = ReadElement(tbs, kTagSequence, issuer)) return kClassFormat | ret;
  if (const int32_t ret = ReadName(issuer, cert.issuer)) return ret;
  cert.issuerRaw = View(kTagSequence, issuerBegin, issuer.End());
  trace::Debug("issure len=%d\n", static_cast<int>(cert.issuerRaw.length));
  trace::Dump(cert.issuerRaw.data, static_cast<size_t>(cert.issuerRaw.length));

  DerCursor validity;
  if (const int32_t ret = ReadElement(tbs, kTagSequence, validity)) return kClassDate | ret;
  if (const int32_t ret = ReadTime(validity, cert.validFrom)) return ret;
  if (const int32_t ret = ReadTime(validity, cert.validTo)) return ret;
  if (!validity.AtEnd()) return kClassDate | kLengthMismatch;
  LogTime("notbefore=%d/%d/%d %d:%d:%d\n", cert.validFrom);
  LogTime("notafter   =%d/%d/%d %d:%d:%d\n", cert.validTo);

  const uint8_t* subjectBegin = tbs.Position();
  DerCursor subject;
  if (const int32_t ret = ReadElement(tbs, kTagSequence, subject)) return kClassFormat | ret;
  trace::Debug("name len=%d\n", static_cast<int>(subject.Left()));
  trace::Dump(subject.Position(), subject.Left());
  if (const int32_t ret = ReadName(subject, cert.subject)) return ret;
  cert.subjectRaw = View(kTagSequence, subjectBegin, subject.End());
  trace::Debug("subject len=%d\n", static_cast<int>(cert.subjectRaw.length));
  trace::Dump(cert.subjectRaw.data, static_cast<size_t>(cert.subjectRaw.length));

  DerCursor keyInfo;
  if (const int32_t ret = ReadElement(tbs, kTagSequence, keyInfo)) return kClassFormat | ret;
  if (const int32_t ret = ReadPublicKey(keyInfo, cert)) return ret;
  mbedtls_rsa_context* rsa = cert.publicKey.get();
  if (!PassesKeyCheck(*rsa)) return kKeyCheckFailed;
  rsa->len = mbedtls_mpi_size(&rsa->N);

  if (cert.version >= 2) {
    if (const int32_t ret = ReadOptional(tbs, kTagIssuerUniqueId, cert.issuerUniqueId)) return ret;
    if (const int32_t ret = ReadOptional(tbs, kTagSubjectUniqueId, cert.subjectUniqueId)) {
      return ret;
    }
  }
  if (cert.version == 3) {
    if (const int32_t ret = ReadExtensions(tbs, cert)) return ret;
    cert.selfSigned = SameKeyId(cert.authorityKeyId, cert.subjectKeyId) ? 1 : 0;
  }
  if (!tbs.AtEnd()) return kClassFormat | kLengthMismatch;

  if (const int32_t ret = ReadAlgorithm(certificate, cert.sigAlgorithm2)) return ret;
  if (cert.sigAlgorithm2.length < static_cast<int32_t>(kPkcs1OidLength) ||
      std::memcmp(cert.sigAlgorithm2.data, cert.sigAlgorithm.data, kPkcs1OidLength) != 0) {
    return kSignatureAlgorithmMismatch;
  }

  DerCursor signature;
  if (const int32_t ret = ReadElement(certificate, kTagBitString, signature)) {
    return kClassSignature | ret;
  }
  if (signature.Left() < 2 || signature.Peek() != 0) return kClassSignature;
  signature.Skip(1);
  cert.signature = View(kTagBitString, signature);
  if (!certificate.AtEnd()) return kClassFormat | kLengthMismatch;
  return 0;
}

}  // namespace

int32_t ParseCertificate(CertificateList& list, const uint8_t* data, size_t length) {
  // Filled apart and appended only when whole, so a refusal leaves `list`
  // as it was; the record's destructor wipes whatever it had read. The
  // standard containers report exhausted memory by throwing: that is the
  // reader's "no memory" code here, not an exception for the caller.
  try {
    X509Certificate cert;
    if (const int32_t ret = CopyInput(data, length, cert.rawCopy)) return ret;
    if (const int32_t ret = ReadCertificate(cert)) return ret;
    list.push_back(std::move(cert));
    return 0;
  } catch (const std::bad_alloc&) {
    return x509::kNoMemory;
  }
}

void FreeCertificateList(CertificateList& list) { list.clear(); }

}  // namespace qalv
