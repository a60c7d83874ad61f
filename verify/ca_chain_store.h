// The CA chains of the authorities, kept sealed in the work folder under the
// authority key identifier and fetched once, and the check of a signer
// certificate up to a trusted root through them. A chain is kept only when it
// leads to a trust anchor, so no service and no file placed in the work
// folder can bring trust with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/secure_buffer.h"
#include "verify/policy_state.h"
#include "verify/trust_anchors.h"
#include "verify/x509_certificate.h"

namespace qalv {

inline constexpr int32_t CERT_EXPIRED = 1;
inline constexpr int32_t CERT_ISSUER_UNVERIFIED = 2;
inline constexpr int32_t CERT_NO_ROOT = 4;
// Added by the opening to the s3 result: the s3 signer is not one of the
// authority's signing certificates.
inline constexpr int32_t CERT_NOT_AUTHORITY = 8;

// A PKCS #7 SignedData: its own copy of the DER bytes and its certificates.
struct SignedDataRecord {
  SecureBuffer raw;
  CertificateList certificates;
};

// Reads a chain (DER, or Base64 text when the first byte is 'M'); 0 or a
// certificate reader's code.
[[nodiscard]] int32_t ParseSignedData(SignedDataRecord& record, const uint8_t* data,
                                      size_t length);

// A date to compare validity with (UTC).
struct CivilDate {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
};
CivilDate TodayUtc();

// The flags of the certificate own[0] against the chain `caList`, on
// `today`. The records after it in its own list are tried as its issuers
// before the chain; the path counts as rooted only when it ends at a
// certificate matching one of `anchors`.
[[nodiscard]] int32_t CheckCertificate(std::span<const X509Certificate> own,
                                       const CertificateList& caList,
                                       const CertificateList& anchors, CivilDate today = TodayUtc());

// True when a certificate of `chain` has `keyId` as its subject key
// identifier and its walk through the chain's certificates ends at an anchor:
// the test a chain must pass to be stored or used.
[[nodiscard]] bool ChainLeadsToAnchor(const CertificateList& chain, const uint8_t* keyId,
                                      size_t keyIdLength, const CertificateList& anchors);

// What the store reports for a set of flags: expiry alone still counts as good.
[[nodiscard]] inline int32_t StoreResult(int32_t flags) { return flags == CERT_EXPIRED ? 0 : flags; }

// -1 when no usable chain was available (or `own` is empty); 0 when the
// certificate own[0] is good (expiry alone included); else the flags 2 to 7.
// The anchors are state.trust's; without them nothing is rooted.
[[nodiscard]] int32_t CheckAgainstCaChain(PolicyState& state, std::span<const X509Certificate> own,
                                          const uint8_t* keyId, size_t keyIdLength);

}  // namespace qalv
