// The CA chains of the authorities, kept sealed in the work folder under the
// authority key identifier and fetched once, and the check of a signer
// certificate up to a self-signed root through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/secure_buffer.h"
#include "verify/policy_state.h"
#include "verify/x509_certificate.h"

namespace qalv {

inline constexpr int32_t CERT_EXPIRED = 1;
inline constexpr int32_t CERT_ISSUER_UNVERIFIED = 2;
inline constexpr int32_t CERT_NO_ROOT = 4;

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
// before the chain. `own` must not be empty.
[[nodiscard]] int32_t CheckCertificate(std::span<const X509Certificate> own,
                                       const CertificateList& caList, CivilDate today = TodayUtc());

// What the store reports for a set of flags: expiry alone still counts as good.
[[nodiscard]] inline int32_t StoreResult(int32_t flags) { return flags == CERT_EXPIRED ? 0 : flags; }

// -1 when no usable chain was available (or `own` is empty); 0 when the
// certificate own[0] is good (expiry alone included); else the flags 2 to 7.
[[nodiscard]] int32_t CheckAgainstCaChain(PolicyState& state, std::span<const X509Certificate> own,
                                          const uint8_t* keyId, size_t keyIdLength);

}  // namespace qalv
