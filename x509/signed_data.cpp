#include "x509/signed_data.h"

#include <new>
#include <vector>

#include "x509/elements.h"

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

[[nodiscard]] int32_t ExpectEnd(const Cursor& cur) { return cur.Empty() ? 0 : kLengthMismatch; }

// An element whose tag and length must hold; its content is looked at no
// further.
[[nodiscard]] int32_t SkipElement(Cursor& cur, uint8_t tag) {
  Cursor content;
  return cur.ReadElement(tag, content, kLengths);
}

// The value is only checked for form: six two-digit numbers, year to second.
[[nodiscard]] int32_t ReadSigningTime(Cursor& values) {
  Cursor time;
  if (const int32_t ret = values.ReadElement(kTagUtcTime, time, kLengths)) return ret;
  if (time.Left() < kSigningTimeDigits) return kClassDate;
  for (size_t i = 0; i < kSigningTimeDigits; i += 2) {
    if (ReadTwoDigits(time) < 0) return kClassDate;
  }
  return 0;
}

// Attributes other than content type, message digest and signing time are
// passed over whole.
[[nodiscard]] int32_t ReadAttribute(Cursor& attributes) {
  Cursor attribute;
  if (const int32_t ret = attributes.ReadElement(kTagSequence, attribute, kLengths)) return ret;
  Cursor oid;
  if (const int32_t ret = attribute.ReadElement(kTagOid, oid, kLengths)) return ret;
  Cursor values;
  if (const int32_t ret = attribute.ReadElement(kTagSet, values, kLengths)) return ret;
  if (const int32_t ret = ExpectEnd(attribute)) return ret;
  if (oid.Left() != kAttributeOidLength || !oid.StartsWith(kPkcs9Prefix)) return 0;
  int32_t ret = 0;
  switch (oid.Rest().back()) {
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

[[nodiscard]] int32_t ReadSignerInfo(Cursor& signerInfos) {
  Cursor signer;
  if (const int32_t ret = signerInfos.ReadElement(kTagSequence, signer, kLengths)) return ret;
  int32_t version = 0;
  if (const int32_t ret = ReadSmallInteger(signer, version)) return ret;

  Cursor issuerAndSerial;
  if (const int32_t ret = signer.ReadElement(kTagSequence, issuerAndSerial, kLengths)) return ret;
  Cursor issuer;
  if (const int32_t ret = issuerAndSerial.ReadElement(kTagSequence, issuer, kLengths)) return ret;
  std::vector<NameEntry> issuerName;
  if (const int32_t ret = ReadName(issuer, issuerName)) return ret;
  TaggedBytes serial;
  if (const int32_t ret = ReadSerial(issuerAndSerial, serial)) return ret;
  if (const int32_t ret = ExpectEnd(issuerAndSerial)) return ret;

  Bytes digestAlgorithm;
  if (const int32_t ret = ReadAlgorithm(signer, digestAlgorithm)) return ret;
  if (signer.NextIs(kTagContext0)) {
    Cursor attributes;
    if (const int32_t ret = signer.ReadElement(kTagContext0, attributes, kLengths)) return ret;
    while (!attributes.Empty()) {
      if (const int32_t ret = ReadAttribute(attributes)) return ret;
    }
  }
  Bytes encryptionAlgorithm;
  if (const int32_t ret = ReadAlgorithm(signer, encryptionAlgorithm)) return ret;
  if (const int32_t ret = SkipElement(signer, kTagOctetString)) return ret;
  if (const int32_t ret = ExpectEnd(signer)) return ret;
  return ExpectEnd(signerInfos);
}

// Certificates are handed to the certificate reader one whole element at a
// time; the [0] length around them is checked but does not bound them: they
// run for as long as SEQUENCEs follow.
[[nodiscard]] int32_t ReadCertificates(Cursor& signedData, CertificateList& certificates) {
  if (!signedData.NextIs(kTagContext0)) return 0;
  size_t setLength = 0;
  if (const int32_t ret = signedData.ReadHeader(kTagContext0, setLength, kLengths)) return ret;
  while (signedData.NextIs(kTagSequence)) {
    Cursor content;
    Bytes certificate;
    if (const int32_t ret = signedData.ReadElement(kTagSequence, content, kLengths, &certificate)) {
      return ret;
    }
    if (const int32_t ret =
            ParseCertificate(certificates, certificate.data(), certificate.size())) {
      return ret;
    }
  }
  return 0;
}

[[nodiscard]] int32_t ReadSignedData(SignedDataRecord& record) {
  Cursor input(record.raw.span());
  Cursor contentInfo;
  if (const int32_t ret = input.ReadElement(kTagSequence, contentInfo, kLengths)) return ret;
  if (const int32_t ret = ExpectEnd(input)) return ret;
  if (const int32_t ret = SkipElement(contentInfo, kTagOid)) return ret;
  Cursor explicitContent;
  if (const int32_t ret = contentInfo.ReadElement(kTagContext0, explicitContent, kLengths)) {
    return ret;
  }
  if (const int32_t ret = ExpectEnd(contentInfo)) return ret;
  Cursor signedData;
  if (const int32_t ret = explicitContent.ReadElement(kTagSequence, signedData, kLengths)) {
    return ret;
  }
  if (const int32_t ret = ExpectEnd(explicitContent)) return ret;

  int32_t version = 0;
  if (const int32_t ret = ReadSmallInteger(signedData, version)) return ret;
  Cursor digestAlgorithms;
  if (const int32_t ret = signedData.ReadElement(kTagSet, digestAlgorithms, kLengths)) return ret;
  while (!digestAlgorithms.Empty()) {
    Bytes algorithm;
    if (const int32_t ret = ReadAlgorithm(digestAlgorithms, algorithm)) return ret;
  }

  // The content type, and the content itself when the chain carries one.
  Cursor content;
  if (const int32_t ret = signedData.ReadElement(kTagSequence, content, kLengths)) return ret;
  if (const int32_t ret = SkipElement(content, kTagOid)) return ret;
  if (!content.Empty()) {
    Cursor explicitData;
    if (const int32_t ret = content.ReadElement(kTagContext0, explicitData, kLengths)) return ret;
    if (const int32_t ret = SkipElement(explicitData, kTagOctetString)) return ret;
    if (const int32_t ret = ExpectEnd(explicitData)) return ret;
    if (const int32_t ret = ExpectEnd(content)) return ret;
  }

  if (const int32_t ret = ReadCertificates(signedData, record.certificates)) return ret;

  Cursor signerInfos;
  if (const int32_t ret = signedData.ReadElement(kTagSet, signerInfos, kLengths)) return ret;
  if (const int32_t ret = ExpectEnd(signedData)) return ret;
  // A chain of certificates only carries no SignerInfo at all.
  if (signerInfos.Empty()) return 0;
  return ReadSignerInfo(signerInfos);
}

}  // namespace

int32_t ParseSignedData(SignedDataRecord& record, const uint8_t* data, size_t length) {
  // The certificate list and the name entries report exhausted memory by
  // throwing: that is the reader's "no memory" code here.
  try {
    if (const int32_t ret = CopyInput(Bytes(data, length), record.raw)) return ret;
    return ReadSignedData(record);
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  }
}

}  // namespace qalv
