#include "x509/certificate.h"

#include <mbedtls/bignum.h>

#include <cstring>
#include <new>

#include "der/der_cursor.h"
#include "platform/trace.h"

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
constexpr uint8_t kAuthorityKeyIdOid[] = {0x06, 0x03, 0x55, 0x1D, 0x23};
constexpr uint8_t kSubjectKeyIdOid[] = {0x06, 0x03, 0x55, 0x1D, 0x0E};
constexpr uint8_t kBasicConstraintsOid[] = {0x06, 0x03, 0x55, 0x1D, 0x13};

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

// Unsigned big-endian, whatever the sign bit says. The big-number library
// fails only when it cannot get memory.
[[nodiscard]] int32_t ReadBigInteger(DerCursor& cur, mbedtls_mpi& number) {
  DerCursor content;
  if (const int32_t ret = ReadElement(cur, kTagInteger, content)) return ret;
  if (mbedtls_mpi_read_binary(&number, content.Position(), content.Left()) != 0) return kNoMemory;
  return 0;
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
[[nodiscard]] int32_t ReadTime(DerCursor& cur, der::Time& time) {
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
  const der::Time read{year,
                      TwoDigits(rest),
                      TwoDigits(rest + 2),
                      TwoDigits(rest + 4),
                      TwoDigits(rest + 6),
                      TwoDigits(rest + 8)};
  if (!IsValidTime(read)) return kClassDate;
  time = read;
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

void LogTime(const char* format, const der::Time& t) {
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

  if (const int32_t ret = ReadSerial(tbs, cert.serial)) return ret;

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
    // Two absent identifiers are equal too: a version 3 certificate without
    // either counts as self-signed.
    cert.selfSigned = SameBytes(cert.authorityKeyId, cert.subjectKeyId) ? 1 : 0;
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
