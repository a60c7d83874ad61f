#include "x509/signed_data.h"

#include <new>
#include <vector>

#include "der/der_cursor.h"

namespace qalv {
namespace {

using namespace x509;
using namespace der;

// Authenticated attributes of a SignerInfo: 1.2.840.113549.1.9.3, .4 and .5.
constexpr size_t kAttributeOidLength = 9;
constexpr uint8_t kPkcs9Prefix[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09};
constexpr uint8_t kContentTypeAttribute = 3;
constexpr uint8_t kMessageDigestAttribute = 4;
constexpr uint8_t kSigningTimeAttribute = 5;
constexpr size_t kSigningTimeDigits = 12;

[[nodiscard]] int32_t ExpectEnd(const DerCursor& cur) { return cur.AtEnd() ? 0 : kLengthMismatch; }

// An element whose tag and length must hold; its content is looked at no
// further.
[[nodiscard]] int32_t SkipElement(DerCursor& cur, uint8_t tag) {
  DerCursor content;
  return ReadElement(cur, tag, content);
}

// The value is only checked for form: six two-digit numbers, year to second.
[[nodiscard]] int32_t ReadSigningTime(DerCursor& values) {
  DerCursor time;
  if (const int32_t ret = ReadElement(values, kTagUtcTime, time)) return ret;
  if (time.Left() < kSigningTimeDigits) return kClassDate;
  for (size_t i = 0; i < kSigningTimeDigits; i += 2) {
    if (TwoDigits(time.Position() + i) < 0) return kClassDate;
  }
  return 0;
}

// Attributes other than content type, message digest and signing time are
// passed over whole.
[[nodiscard]] int32_t ReadAttribute(DerCursor& attributes) {
  DerCursor attribute;
  if (const int32_t ret = ReadElement(attributes, kTagSequence, attribute)) return ret;
  DerCursor oid;
  if (const int32_t ret = ReadElement(attribute, kTagOid, oid)) return ret;
  DerCursor values;
  if (const int32_t ret = ReadElement(attribute, kTagSet, values)) return ret;
  if (const int32_t ret = ExpectEnd(attribute)) return ret;
  if (oid.Left() != kAttributeOidLength || !oid.StartsWith(kPkcs9Prefix, sizeof kPkcs9Prefix)) {
    return 0;
  }
  int32_t ret = 0;
  switch (oid.At(kAttributeOidLength - 1)) {
    case kContentTypeAttribute:
      ret = SkipElement(values, kTagOid);
      break;
    case kMessageDigestAttribute:
      ret = SkipElement(values, kTagOctetString);
      break;
    case kSigningTimeAttribute:
      ret = ReadSigningTime(values);
      break;
    default:
      return 0;
  }
  if (ret != 0) return ret;
  return ExpectEnd(values);
}

[[nodiscard]] int32_t ReadSignerInfo(DerCursor& signerInfos) {
  DerCursor signer;
  if (const int32_t ret = ReadElement(signerInfos, kTagSequence, signer)) return ret;
  int32_t version = 0;
  if (const int32_t ret = ReadSmallInteger(signer, version)) return ret;

  DerCursor issuerAndSerial;
  if (const int32_t ret = ReadElement(signer, kTagSequence, issuerAndSerial)) return ret;
  DerCursor issuer;
  if (const int32_t ret = ReadElement(issuerAndSerial, kTagSequence, issuer)) return ret;
  std::vector<NameEntry> issuerName;
  if (const int32_t ret = ReadName(issuer, issuerName)) return ret;
  DerBuffer serial;
  if (const int32_t ret = ReadSerial(issuerAndSerial, serial)) return ret;
  if (const int32_t ret = ExpectEnd(issuerAndSerial)) return ret;

  DerBuffer digestAlgorithm;
  if (const int32_t ret = ReadAlgorithm(signer, digestAlgorithm)) return ret;
  if (!signer.AtEnd() && signer.Peek() == kTagContext0) {
    DerCursor attributes;
    if (const int32_t ret = ReadContent(signer, attributes)) return ret;
    while (!attributes.AtEnd()) {
      if (const int32_t ret = ReadAttribute(attributes)) return ret;
    }
  }
  DerBuffer encryptionAlgorithm;
  if (const int32_t ret = ReadAlgorithm(signer, encryptionAlgorithm)) return ret;
  if (const int32_t ret = SkipElement(signer, kTagOctetString)) return ret;
  if (const int32_t ret = ExpectEnd(signer)) return ret;
  return ExpectEnd(signerInfos);
}

// Certificates are handed to the certificate reader one whole element at a
// time; the [0] length around them is checked but does not bound them: they
// run for as long as SEQUENCEs follow.
[[nodiscard]] int32_t ReadCertificates(DerCursor& signedData, CertificateList& certificates) {
  if (signedData.AtEnd() || signedData.Peek() != kTagContext0) return 0;
  signedData.Skip(1);
  size_t setLength = 0;
  if (const int32_t ret = ReadLength(signedData, setLength)) return ret;
  while (!signedData.AtEnd() && signedData.Peek() == kTagSequence) {
    const uint8_t* begin = signedData.Position();
    DerCursor content;
    if (const int32_t ret = ReadContent(signedData, content)) return ret;
    if (const int32_t ret =
            ParseCertificate(certificates, begin, static_cast<size_t>(content.End() - begin))) {
      return ret;
    }
  }
  return 0;
}

[[nodiscard]] int32_t ReadSignedData(SignedDataRecord& record) {
  DerCursor input(record.raw.data(), record.raw.data() + record.raw.size());
  DerCursor contentInfo;
  if (const int32_t ret = ReadElement(input, kTagSequence, contentInfo)) return ret;
  if (const int32_t ret = ExpectEnd(input)) return ret;
  if (const int32_t ret = SkipElement(contentInfo, kTagOid)) return ret;
  DerCursor explicitContent;
  if (const int32_t ret = ReadElement(contentInfo, kTagContext0, explicitContent)) return ret;
  if (const int32_t ret = ExpectEnd(contentInfo)) return ret;
  DerCursor signedData;
  if (const int32_t ret = ReadElement(explicitContent, kTagSequence, signedData)) return ret;
  if (const int32_t ret = ExpectEnd(explicitContent)) return ret;

  int32_t version = 0;
  if (const int32_t ret = ReadSmallInteger(signedData, version)) return ret;
  DerCursor digestAlgorithms;
  if (const int32_t ret = ReadElement(signedData, kTagSet, digestAlgorithms)) return ret;
  while (!digestAlgorithms.AtEnd()) {
    DerBuffer algorithm;
    if (const int32_t ret = ReadAlgorithm(digestAlgorithms, algorithm)) return ret;
  }

  // The content type, and the content itself when the chain carries one.
  DerCursor content;
  if (const int32_t ret = ReadElement(signedData, kTagSequence, content)) return ret;
  if (const int32_t ret = SkipElement(content, kTagOid)) return ret;
  if (!content.AtEnd()) {
    DerCursor explicitData;
    if (const int32_t ret = ReadElement(content, kTagContext0, explicitData)) return ret;
    if (const int32_t ret = SkipElement(explicitData, kTagOctetString)) return ret;
    if (const int32_t ret = ExpectEnd(explicitData)) return ret;
    if (const int32_t ret = ExpectEnd(content)) return ret;
  }

  if (const int32_t ret = ReadCertificates(signedData, record.certificates)) return ret;

  DerCursor signerInfos;
  if (const int32_t ret = ReadElement(signedData, kTagSet, signerInfos)) return ret;
  if (const int32_t ret = ExpectEnd(signedData)) return ret;
  // A chain of certificates only carries no SignerInfo at all.
  if (signerInfos.AtEnd()) return 0;
  return ReadSignerInfo(signerInfos);
}

}  // namespace

int32_t ParseSignedData(SignedDataRecord& record, const uint8_t* data, size_t length) {
  // The certificate list and the name entries report exhausted memory by
  // throwing: that is the reader's "no memory" code here.
  try {
    if (const int32_t ret = CopyInput(data, length, record.raw)) return ret;
    return ReadSignedData(record);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

}  // namespace qalv
