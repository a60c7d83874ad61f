// The check of a certificate up to a trust anchor through a CA chain, and
// the test a chain must pass to be kept: it leads from the wanted key to an
// anchor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "der/cursor.h"
#include "x509/certificate.h"
#include "x509/certificate_summary.h"

namespace qalv {

inline constexpr int32_t CERT_EXPIRED = 1;
inline constexpr int32_t CERT_ISSUER_UNVERIFIED = 2;
inline constexpr int32_t CERT_NO_ROOT = 4;
// Added by the opening to the s3 result: the s3 signer is not one of the
// authority's signing certificates.
inline constexpr int32_t CERT_NOT_AUTHORITY = 8;

// A date to compare validity with (UTC).
struct CivilDate {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
};
CivilDate TodayUtc();

// One certificate a check walked through, and whether it matches a trust
// anchor.
struct PathStep {
  CertificateSummary certificate;
  bool anchor = false;
};

// What one certificate check saw, for telling a person why it came out as
// it did: its flags (-1 while no check could be made) and the certificates
// it walked, the one checked first and the one where the walk ended last.
struct CertificateWalk {
  int32_t flags = -1;
  std::vector<PathStep> path;
};

// The flags of the certificate own[0] against the chain `caList`, on
// `today`. The records after it in its own list are tried as its issuers
// before the chain; the path counts as rooted only when it ends at a
// certificate matching one of `anchors`. With `walk`, the flags and the path
// are also left there.
[[nodiscard]] int32_t CheckCertificate(std::span<const X509Certificate> own,
                                       const CertificateList& caList,
                                       const CertificateList& anchors, CivilDate today = TodayUtc(),
                                       CertificateWalk* walk = nullptr);

// True when a certificate of `chain` has `keyId` as its subject key
// identifier and its walk through the chain's certificates ends at an anchor:
// the test a chain must pass to be stored or used.
[[nodiscard]] bool ChainLeadsToAnchor(const CertificateList& chain, der::Bytes keyId,
                                      const CertificateList& anchors);

}  // namespace qalv
