#include "verify/ca_chain_store.h"

#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "net/ca_chain_update.h"
#include "net/sealed_storage.h"
#include "platform/file_io.h"
#include "verify/der_cursor.h"
#include "verify/signature.h"
#include "verify/trust_anchors.h"

namespace qalv {
namespace {

using namespace x509;
using namespace der;

// The hexadecimal file name is made in a 132-character field.
constexpr size_t kMaxKeyIdLength = 65;

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

// `issuer` named `lower`'s issuer and its key verifies `lower`'s signature.
bool Issued(const X509Certificate& issuer, const X509Certificate& lower) {
  if (issuer.version == 0 || !SameBytes(lower.issuerRaw, issuer.subjectRaw)) return false;
  int32_t digestId = digest_id::kNone;
  return VerifySignature(issuer.publicKey, digestId, lower.tbs.data,
                         static_cast<size_t>(lower.tbs.length), lower.signature.data,
                         static_cast<size_t>(lower.signature.length)) == 0;
}

// Climbs from `current` through `candidates` to a self-signed certificate,
// starting over at the first candidate after every step. A certificate is
// climbed to at most once, so issuers that certify each other, or a
// self-issued top that the key-identifier rule does not call self-signed, end
// the walk where it would come round again. True when any step was taken.
bool Climb(const X509Certificate*& current, std::span<const X509Certificate> candidates,
           bool requireCa) {
  std::vector<bool> visited(candidates.size(), false);
  bool climbed = false;
  size_t i = 0;
  while (i < candidates.size()) {
    const X509Certificate& candidate = candidates[i];
    if ((requireCa && candidate.isCa != 1) || !Issued(candidate, *current)) {
      ++i;
      continue;
    }
    if (visited[i]) break;
    visited[i] = true;
    climbed = true;
    current = &candidate;
    if (candidate.selfSigned != 0) break;
    i = 0;
  }
  return climbed;
}

bool ExpiredBefore(const CertTime& validTo, const CivilDate& today) {
  if (today.year != validTo.year) return today.year > validTo.year;
  if (today.month != validTo.month) return today.month > validTo.month;
  return today.day > validTo.day;
}

void TellUntrustedChain(PolicyState& state) {
  if (state.ownerWindow == nullptr) return;
  state.ownerWindow->ShowMessage({"憑證鏈更新錯誤", "憑證鏈無法連結至信任的根憑證",
                                  OwnerWindow::Icon::kError, OwnerWindow::Buttons::kOk});
}

const CertificateList& Anchors(const PolicyState& state) {
  static const CertificateList kNone;
  return state.trust ? state.trust->anchors : kNone;
}

// Asks the chain service and keeps its answer only when it leads to an
// anchor: then it is sealed, stored in place of `path` in one step, and read
// into `record`. 0, or -1 with nothing stored.
[[nodiscard]] int32_t FetchTrustedChain(PolicyState& state, const uint8_t* keyId,
                                        size_t keyIdLength, const char* name,
                                        const std::string& path, SignedDataRecord& record) {
  SecureBuffer chain;
  if (FetchCaChain(state, state.certChainUrl, keyId, keyIdLength, chain) != 1) return -1;
  // Whatever the service sent, it is asked for no more in this opening.
  state.chainsFetched.insert(name);
  if (ParseSignedData(record, chain.data(), chain.size()) != 0 ||
      !ChainLeadsToAnchor(record.certificates, keyId, keyIdLength, Anchors(state))) {
    TellUntrustedChain(state);
    return -1;
  }
  SecureBuffer sealed;
  if (!sealed.Allocate(chain.size() + seal::kOverhead)) return -1;
  size_t sealedLength = sealed.size();
  if (SealBuffer(chain.data(), chain.size(), name, sealed.data(), sealedLength) != 0) return -1;
  // A chain that cannot be kept is not used either: the next opening asks
  // again rather than trusting what it cannot find on disk.
  if (ReplacePrivateFile(path, sealed.data(), sealedLength) != 0) return -1;
  return 0;
}

// The stored chain of `name` read into `record`: 0, 1 when there is no file,
// or -1 when it cannot be read, unsealed or parsed (the last leaves a dump).
[[nodiscard]] int32_t ReadStoredChain(PolicyState& state, const std::string& path,
                                      const char* name, SignedDataRecord& record) {
  SecureBuffer sealed;
  const int32_t read = ReadWholeFile(path, sealed);
  if (read == file_io::kNotFound) return 1;
  if (read != 0) return -1;

  SecureBuffer chain;
  if (!chain.Allocate(sealed.size())) return -1;
  size_t chainLength = chain.size();
  if (UnsealBuffer(sealed.data(), sealed.size(), name, chain.data(), chainLength) != 0) return -1;
  chain.Shrink(chainLength);

  if (const int32_t code = ParseSignedData(record, chain.data(), chain.size())) {
    // The dump only helps whoever looks into the work folder; the chain is
    // unavailable whether or not it could be written.
    static_cast<void>(WritePrivateFile(
        state.workFolder + "caParse=" + std::to_string(code) + ".p7b", chain.data(), chain.size()));
    return -1;
  }
  return 0;
}

// Everything after the key identifier's name is made: -1 or the check's result.
[[nodiscard]] int32_t CheckWithChain(PolicyState& state, std::span<const X509Certificate> own,
                                     const uint8_t* keyId, size_t keyIdLength, const char* name) {
  const std::string path = state.workFolder + name;
  SignedDataRecord record;
  const int32_t stored = ReadStoredChain(state, path, name, record);
  if (stored < 0) return -1;
  // A stored chain that does not lead to an anchor was written by an older
  // reader or placed there: it is fetched again, once in an opening, and
  // replaced only by one that does.
  const bool usable = stored == 0 && ChainLeadsToAnchor(record.certificates, keyId, keyIdLength,
                                                        Anchors(state));
  if (!usable) {
    if (state.chainsFetched.contains(name)) return -1;
    record = SignedDataRecord{};
    if (FetchTrustedChain(state, keyId, keyIdLength, name, path, record) != 0) return -1;
  }
  return StoreResult(CheckCertificate(own, record.certificates, Anchors(state)));
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

CivilDate TodayUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  return CivilDate{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

int32_t CheckCertificate(std::span<const X509Certificate> own, const CertificateList& caList,
                         const CertificateList& anchors, CivilDate today) {
  // Nothing to check: nothing verified, no root reached.
  if (own.empty()) return CERT_ISSUER_UNVERIFIED | CERT_NO_ROOT;
  int32_t flags = CERT_ISSUER_UNVERIFIED;
  if (ExpiredBefore(own.front().validTo, today)) flags |= CERT_EXPIRED;

  // The certificate's own companions lead up first, without clearing any flag:
  // only an issuer from the authority's chain counts as verified.
  const X509Certificate* current = &own.front();
  Climb(current, own.subspan(1), /*requireCa=*/true);
  if (Climb(current, caList, /*requireCa=*/false)) flags &= ~CERT_ISSUER_UNVERIFIED;
  if (!MatchesTrusted(*current, anchors)) flags |= CERT_NO_ROOT;
  return flags;
}

bool ChainLeadsToAnchor(const CertificateList& chain, const uint8_t* keyId, size_t keyIdLength,
                        const CertificateList& anchors) {
  const DerBuffer wanted{0, static_cast<int32_t>(keyIdLength), keyId};
  for (const X509Certificate& cert : chain) {
    if (keyIdLength == 0 || !SameBytes(cert.subjectKeyId, wanted)) continue;
    const X509Certificate* current = &cert;
    Climb(current, chain, /*requireCa=*/false);
    if (MatchesTrusted(*current, anchors)) return true;
  }
  return false;
}

int32_t CheckAgainstCaChain(PolicyState& state, std::span<const X509Certificate> own,
                            const uint8_t* keyId, size_t keyIdLength) {
  // Without an identifier there is no chain to name, so nothing to fetch.
  if (own.empty() || keyIdLength == 0 || keyIdLength > kMaxKeyIdLength) return -1;
  char name[2 * kMaxKeyIdLength + 2];
  if (HexUpper(keyId, keyIdLength, name) != 0) return -1;
  return CheckWithChain(state, own, keyId, keyIdLength, name);
}

}  // namespace qalv
