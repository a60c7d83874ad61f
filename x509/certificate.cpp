#include "x509/certificate.h"

#include <mbedtls/bignum.h>

#include <algorithm>
#include <iterator>
#include <new>

#include "platform/trace.h"
#include "x509/elements.h"

namespace qalv {
namespace {

using namespace x509;
using namespace der;

constexpr uint8_t kTagVersion = 0xA0;
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
constexpr uint8_t kAuthorityKeyIdOid[kExtensionOidLength] = {0x06, 0x03, 0x55, 0x1D, 0x23};
constexpr uint8_t kSubjectKeyIdOid[kExtensionOidLength] = {0x06, 0x03, 0x55, 0x1D, 0x0E};
constexpr uint8_t kBasicConstraintsOid[kExtensionOidLength] = {0x06, 0x03, 0x55, 0x1D, 0x13};

// An element that may be left out: absent (empty) when the next tag differs.
[[nodiscard]] int32_t ReadOptional(Cursor& cur, uint8_t tag, Bytes& out) {
  if (!cur.NextIs(tag)) return 0;
  Cursor content;
  if (const int32_t ret = cur.ReadElement(tag, content, kLengths)) return ret;
  out = content.Rest();
  return 0;
}

[[nodiscard]] int32_t ReadBoolean(Cursor& cur, int32_t& value) {
  Cursor content;
  if (const int32_t ret = cur.ReadElement(kTagBoolean, content, kLengths)) return ret;
  uint8_t byte = 0;
  if (content.Left() != 1 || content.ReadByte(byte) != 0) return kInvalidLength;
  value = byte != 0 ? 1 : 0;
  return 0;
}

// Unsigned big-endian, whatever the sign bit says. The big-number library
// fails only when it cannot get memory.
[[nodiscard]] int32_t ReadBigInteger(Cursor& cur, mbedtls_mpi& number) {
  Cursor content;
  if (const int32_t ret = cur.ReadElement(kTagInteger, content, kLengths)) return ret;
  if (mbedtls_mpi_read_binary(&number, content.Rest().data(), content.Left()) != 0) {
    return kNoMemory;
  }
  return 0;
}

bool IsPkcs1Oid(Bytes oid) {
  return oid.size() == kPkcs1OidLength &&
         std::equal(std::begin(kPkcs1Prefix), std::end(kPkcs1Prefix), oid.begin());
}

bool IsSupportedSignatureOid(Bytes oid) {
  return IsPkcs1Oid(oid) && oid.back() >= kMd2WithRsa && oid.back() <= kSha256WithRsa;
}

int32_t DaysInMonth(int32_t year, int32_t month) {
  static constexpr int32_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsValidTime(const der::Time& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month) &&
         t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
         t.second <= 59;
}

// UTCTime or GeneralizedTime in UTC, whole seconds, with or without the "Z".
[[nodiscard]] int32_t ReadTime(Cursor& cur, der::Time& time) {
  uint8_t tag = 0;
  if (const int32_t ret = cur.PeekByte(tag)) return kClassDate | ret;
  size_t yearDigits = 0;
  if (tag == kTagUtcTime) {
    yearDigits = 2;
  } else if (tag == kTagGeneralizedTime) {
    yearDigits = 4;
  } else {
    return kClassDate | kUnexpectedTag;
  }
  Cursor text;
  if (const int32_t ret = cur.ReadElement(tag, text, kLengths)) return kClassDate | ret;
  const size_t length = text.Left();
  const bool bare = length == yearDigits + 10;
  const bool zulu = length == yearDigits + 11 && text.Rest().back() == 'Z';
  if (!bare && !zulu) return kClassDate;

  int32_t year = 0;
  for (size_t i = 0; i < yearDigits; i += 2) {
    const int32_t pair = ReadTwoDigits(text);
    if (pair < 0) return kClassDate;
    year = year * 100 + pair;
  }
  if (yearDigits == 2) year += year < 50 ? 2000 : 1900;
  // A braced list is evaluated in order, so the pairs are read as written.
  const der::Time read{year,
                       ReadTwoDigits(text),
                       ReadTwoDigits(text),
                       ReadTwoDigits(text),
                       ReadTwoDigits(text),
                       ReadTwoDigits(text)};
  if (!IsValidTime(read)) return kClassDate;
  time = read;
  return 0;
}

[[nodiscard]] int32_t ReadPublicKey(Cursor& keyInfo, X509Certificate& cert) {
  Cursor algorithm;
  if (const int32_t ret = ReadAlgorithmOid(keyInfo, algorithm, cert.publicKeyAlgorithm)) return ret;
  if (!IsPkcs1Oid(cert.publicKeyAlgorithm) || cert.publicKeyAlgorithm.back() != kRsaEncryption) {
    return kUnknownPublicKeyAlgorithm;
  }
  if (const int32_t ret = ReadAlgorithmParameters(algorithm)) return ret;

  Cursor bits;
  if (const int32_t ret = keyInfo.ReadElement(kTagBitString, bits, kLengths)) {
    return kClassPublicKey | ret;
  }
  uint8_t unusedBits = 0;
  if (const int32_t ret = bits.ReadByte(unusedBits)) return kClassPublicKey | ret;
  if (unusedBits != 0) return kClassPublicKey;
  Cursor key;
  if (const int32_t ret = bits.ReadElement(kTagSequence, key, kLengths)) {
    return kClassPublicKey | ret;
  }
  if (!bits.Empty()) return kClassPublicKey | kLengthMismatch;
  mbedtls_rsa_context* rsa = cert.publicKey.get();
  if (const int32_t ret = ReadBigInteger(key, rsa->N)) return kClassPublicKey | ret;
  if (const int32_t ret = ReadBigInteger(key, rsa->E)) return kClassPublicKey | ret;
  if (!key.Empty() || !keyInfo.Empty()) return kClassPublicKey | kLengthMismatch;
  return 0;
}

bool PassesKeyCheck(const mbedtls_rsa_context& rsa) {
  const size_t modulusBits = mbedtls_mpi_bitlen(&rsa.N);
  const size_t exponentBits = mbedtls_mpi_bitlen(&rsa.E);
  return mbedtls_mpi_get_bit(&rsa.N, 0) == 1 && mbedtls_mpi_get_bit(&rsa.E, 0) == 1 &&
         modulusBits >= 128 && modulusBits <= 4096 && exponentBits >= 2 && exponentBits <= 64;
}

[[nodiscard]] int32_t ReadAuthorityKeyId(Cursor& value, X509Certificate& cert) {
  Cursor fields;
  if (const int32_t ret = value.ReadElement(kTagSequence, fields, kLengths)) {
    return kClassExtensions | ret;
  }
  while (!fields.Empty()) {
    uint8_t tag = 0;
    if (const int32_t ret = fields.PeekByte(tag)) return kClassExtensions | ret;
    if (tag != kTagKeyIdentifier && tag != kTagAuthorityCertIssuer &&
        tag != kTagAuthorityCertSerial) {
      return kClassExtensions | kUnexpectedTag;
    }
    Cursor field;
    if (const int32_t ret = fields.ReadElement(tag, field, kLengths)) return kClassExtensions | ret;
    if (tag == kTagKeyIdentifier) cert.authorityKeyId = field.Rest();
  }
  return 0;
}

[[nodiscard]] int32_t ReadSubjectKeyId(Cursor& value, X509Certificate& cert) {
  Cursor id;
  if (const int32_t ret = value.ReadElement(kTagOctetString, id, kLengths)) {
    return kClassExtensions | ret;
  }
  cert.subjectKeyId = id.Rest();
  return 0;
}

// A cA given as an INTEGER counts when it is non-zero.
[[nodiscard]] int32_t ReadBasicConstraints(Cursor& value, int32_t critical,
                                           X509Certificate& cert) {
  Cursor constraints;
  if (const int32_t ret = value.ReadElement(kTagSequence, constraints, kLengths)) {
    return kClassExtensions | ret;
  }
  if (constraints.Empty()) return 0;
  int32_t ca = 0;
  const int32_t ret = constraints.NextIs(kTagBoolean) ? ReadBoolean(constraints, ca)
                                                      : ReadSmallInteger(constraints, ca);
  if (ret != 0) return kClassExtensions | ret;
  cert.isCa = ca != 0 && critical != 0 ? 1 : 0;
  if (constraints.Empty()) return 0;
  int32_t pathLength = 0;
  if (const int32_t pathRet = ReadSmallInteger(constraints, pathLength)) {
    return kClassExtensions | pathRet;
  }
  return constraints.Empty() ? 0 : (kClassExtensions | kLengthMismatch);
}

// `critical` carries over from one extension to the next on purpose: the CA
// decision depends on the last critical flag written before BasicConstraints.
[[nodiscard]] int32_t ReadExtension(Cursor& extension, int32_t& critical,
                                    X509Certificate& cert) {
  const bool authorityKeyId = extension.StartsWith(kAuthorityKeyIdOid);
  const bool subjectKeyId = extension.StartsWith(kSubjectKeyIdOid);
  const bool basicConstraints = extension.StartsWith(kBasicConstraintsOid);
  if (!authorityKeyId && !subjectKeyId && !basicConstraints) return 0;
  if (const int32_t ret = extension.Skip(kExtensionOidLength)) return kClassExtensions | ret;

  if (extension.NextIs(kTagBoolean)) {
    if (const int32_t ret = ReadBoolean(extension, critical)) return kClassExtensions | ret;
  }
  Cursor value;
  if (const int32_t ret = extension.ReadElement(kTagOctetString, value, kLengths)) {
    return kClassExtensions | ret;
  }
  if (!extension.Empty()) return kClassExtensions | kLengthMismatch;

  int32_t ret = 0;
  if (authorityKeyId) {
    ret = ReadAuthorityKeyId(value, cert);
  } else if (subjectKeyId) {
    ret = ReadSubjectKeyId(value, cert);
  } else {
    ret = ReadBasicConstraints(value, critical, cert);
  }
  if (ret != 0) return ret;
  return value.Empty() ? 0 : (kClassExtensions | kLengthMismatch);
}

[[nodiscard]] int32_t ReadExtensions(Cursor& tbs, X509Certificate& cert) {
  if (!tbs.NextIs(kTagExtensions)) return 0;
  Cursor outer;
  if (const int32_t ret = tbs.ReadElement(kTagExtensions, outer, kLengths)) return ret;
  cert.extensions = outer.Rest();
  Cursor extensions;
  if (const int32_t ret = outer.ReadElement(kTagSequence, extensions, kLengths)) {
    return kClassExtensions | ret;
  }
  if (!outer.Empty()) return kClassExtensions | kLengthMismatch;
  int32_t critical = 1;
  while (!extensions.Empty()) {
    Cursor extension;
    if (const int32_t ret = extensions.ReadElement(kTagSequence, extension, kLengths)) {
      return kClassExtensions | ret;
    }
    if (const int32_t ret = ReadExtension(extension, critical, cert)) return ret;
  }
  return 0;
}

void LogTime(const char* format, const der::Time& t) {
  trace::Debug(format, t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void DumpBytes(Bytes bytes) { trace::Dump(bytes.data(), bytes.size()); }

[[nodiscard]] int32_t ReadCertificate(X509Certificate& cert) {
  Cursor input(cert.rawCopy.span());
  Cursor certificate;
  if (input.ReadElement(kTagSequence, certificate, kLengths) != 0) return kClassFormat;
  if (!input.Empty()) return kClassFormat | kLengthMismatch;
  cert.raw = cert.rawCopy.span();

  Cursor tbs;
  if (const int32_t ret = certificate.ReadElement(kTagSequence, tbs, kLengths, &cert.tbs)) {
    return kClassFormat | ret;
  }
  trace::Debug("TBS len=%d\n", static_cast<int>(cert.tbs.size()));

  int32_t versionNumber = 0;
  if (tbs.Empty()) return kOutOfData;
  if (tbs.NextIs(kTagVersion)) {
    Cursor version;
    if (const int32_t ret = tbs.ReadElement(kTagVersion, version, kLengths)) return ret;
    if (const int32_t ret = ReadSmallInteger(version, versionNumber)) return kClassVersion | ret;
    if (!version.Empty()) return kClassVersion | kLengthMismatch;
  }

  if (const int32_t ret = ReadSerial(tbs, cert.serial)) return ret;

  if (const int32_t ret = ReadAlgorithm(tbs, cert.sigAlgorithm)) return ret;
  if (versionNumber >= 3) return kUnknownVersion;
  cert.version = versionNumber + 1;
  if (!IsSupportedSignatureOid(cert.sigAlgorithm)) return kUnknownSignatureAlgorithm;

  Cursor issuer;
  if (const int32_t ret = tbs.ReadElement(kTagSequence, issuer, kLengths, &cert.issuerRaw)) {
    return kClassFormat | ret;
  }
  if (const int32_t ret = ReadName(issuer, cert.issuer)) return ret;
  trace::Debug("issure len=%d\n", static_cast<int>(cert.issuerRaw.size()));
  DumpBytes(cert.issuerRaw);

  Cursor validity;
  if (const int32_t ret = tbs.ReadElement(kTagSequence, validity, kLengths)) {
    return kClassDate | ret;
  }
  if (const int32_t ret = ReadTime(validity, cert.validFrom)) return ret;
  if (const int32_t ret = ReadTime(validity, cert.validTo)) return ret;
  if (!validity.Empty()) return kClassDate | kLengthMismatch;
  LogTime("notbefore=%d/%d/%d %d:%d:%d\n", cert.validFrom);
  LogTime("notafter   =%d/%d/%d %d:%d:%d\n", cert.validTo);

  Cursor subject;
  if (const int32_t ret = tbs.ReadElement(kTagSequence, subject, kLengths, &cert.subjectRaw)) {
    return kClassFormat | ret;
  }
  trace::Debug("name len=%d\n", static_cast<int>(subject.Left()));
  DumpBytes(subject.Rest());
  if (const int32_t ret = ReadName(subject, cert.subject)) return ret;
  trace::Debug("subject len=%d\n", static_cast<int>(cert.subjectRaw.size()));
  DumpBytes(cert.subjectRaw);

  Cursor keyInfo;
  if (const int32_t ret = tbs.ReadElement(kTagSequence, keyInfo, kLengths)) {
    return kClassFormat | ret;
  }
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
    // Two absent identifiers are equal too: a version 3 certificate without
    // either counts as self-signed.
    cert.selfSigned = SameBytes(cert.authorityKeyId, cert.subjectKeyId) ? 1 : 0;
  }
  if (!tbs.Empty()) return kClassFormat | kLengthMismatch;

  // An outer identifier longer than the TBS one passes when it starts with it.
  if (const int32_t ret = ReadAlgorithm(certificate, cert.sigAlgorithm2)) return ret;
  if (!Cursor(cert.sigAlgorithm2).StartsWith(cert.sigAlgorithm)) {
    return kSignatureAlgorithmMismatch;
  }

  Cursor signature;
  if (const int32_t ret = certificate.ReadElement(kTagBitString, signature, kLengths)) {
    return kClassSignature | ret;
  }
  uint8_t unusedBits = 0;
  if (signature.Left() < 2 || signature.ReadByte(unusedBits) != 0 || unusedBits != 0) {
    return kClassSignature;
  }
  cert.signature = signature.Rest();
  if (!certificate.Empty()) return kClassFormat | kLengthMismatch;
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
    if (const int32_t ret = CopyInput(Bytes(data, length), cert.rawCopy)) return ret;
    if (const int32_t ret = ReadCertificate(cert)) return ret;
    list.push_back(std::move(cert));
    return 0;
  } catch (const std::bad_alloc&) {
    return x509::kNoMemory;
  }
}

void FreeCertificateList(CertificateList& list) { list.clear(); }

}  // namespace qalv
