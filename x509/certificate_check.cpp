#include "x509/certificate_check.h"

#include <ctime>
#include <vector>

#include "x509/signature.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

// `issuer` named `lower`'s issuer and its key verifies `lower`'s signature.
bool Issued(const X509Certificate& issuer, const X509Certificate& lower) {
  if (issuer.version == 0 || !der::SameBytes(lower.issuerRaw, issuer.subjectRaw)) return false;
  int32_t digestId = digest_id::kNone;
  return VerifySignature(issuer.publicKey, digestId, lower.tbs.data(), lower.tbs.size(),
                         lower.signature.data(), lower.signature.size()) == 0;
}

// Climbs from `current` through `candidates` to a self-signed certificate,
// starting over at the first candidate after every step. A certificate is
// climbed to at most once, so issuers that certify each other, or a
// self-issued top that the key-identifier rule does not call self-signed, end
// the walk where it would come round again. True when any step was taken;
// every step is appended to `steps` when given.
bool Climb(const X509Certificate*& current, std::span<const X509Certificate> candidates,
           bool requireCa, std::vector<const X509Certificate*>* steps = nullptr) {
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
    if (steps != nullptr) steps->push_back(current);
    if (candidate.selfSigned != 0) break;
    i = 0;
  }
  return climbed;
}

bool ExpiredBefore(const der::Time& validTo, const CivilDate& today) {
  if (today.year != validTo.year) return today.year > validTo.year;
  if (today.month != validTo.month) return today.month > validTo.month;
  return today.day > validTo.day;
}

}  // namespace

CivilDate TodayUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  gmtime_r(&now, &parts);
  return CivilDate{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

int32_t CheckCertificate(std::span<const X509Certificate> own, const CertificateList& caList,
                         const CertificateList& anchors, CivilDate today, CertificateWalk* walk) {
  // Nothing to check: nothing verified, no root reached, nothing walked.
  if (own.empty()) {
    if (walk != nullptr) *walk = {CERT_ISSUER_UNVERIFIED | CERT_NO_ROOT, {}};
    return CERT_ISSUER_UNVERIFIED | CERT_NO_ROOT;
  }
  int32_t flags = CERT_ISSUER_UNVERIFIED;
  if (ExpiredBefore(own.front().validTo, today)) flags |= CERT_EXPIRED;

  // The certificate's own companions lead up first, without clearing any flag:
  // only an issuer from the authority's chain counts as verified.
  const X509Certificate* current = &own.front();
  std::vector<const X509Certificate*> steps{current};
  Climb(current, own.subspan(1), /*requireCa=*/true, &steps);
  if (Climb(current, caList, /*requireCa=*/false, &steps)) flags &= ~CERT_ISSUER_UNVERIFIED;
  if (!MatchesTrusted(*current, anchors)) flags |= CERT_NO_ROOT;
  if (walk != nullptr) {
    // Summarised while the chain's records are still alive.
    walk->flags = flags;
    walk->path.clear();
    for (const X509Certificate* step : steps) {
      walk->path.push_back({SummarizeCertificate(*step), MatchesTrusted(*step, anchors)});
    }
  }
  return flags;
}

bool ChainLeadsToAnchor(const CertificateList& chain, der::Bytes keyId,
                        const CertificateList& anchors) {
  for (const X509Certificate& cert : chain) {
    if (keyId.empty() || !der::SameBytes(cert.subjectKeyId, keyId)) continue;
    const X509Certificate* current = &cert;
    Climb(current, chain, /*requireCa=*/false);
    if (MatchesTrusted(*current, anchors)) return true;
  }
  return false;
}

}  // namespace qalv
