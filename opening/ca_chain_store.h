// The CA chains of the authorities, kept sealed in the work folder under the
// authority key identifier and fetched once, and the check of a signer
// certificate up to a trusted root through them. A chain is kept only when it
// leads to a trust anchor, so no service and no file placed in the work
// folder can bring trust with it.
#pragma once

#include <cstdint>
#include <span>

#include "der/cursor.h"
#include "platform/secure_buffer.h"
#include "session/policy_state.h"
#include "x509/certificate.h"
#include "x509/certificate_check.h"
#include "x509/signed_data.h"

namespace qalv {

// What the store reports for a set of flags: expiry alone still counts as good.
[[nodiscard]] inline int32_t StoreResult(int32_t flags) { return flags == CERT_EXPIRED ? 0 : flags; }

// -1 when no usable chain was available (or `own` is empty); 0 when the
// certificate own[0] is good (expiry alone included); else the flags 2 to 7.
// The anchors are state.trust's; without them nothing is rooted. With
// `walk`, the check's own flags and path are left there; it stays as it was
// when there was no chain to check against.
[[nodiscard]] int32_t CheckAgainstCaChain(PolicyState& state, std::span<const X509Certificate> own,
                                          der::Bytes keyId, CertificateWalk* walk = nullptr);

// A chain's bytes as the store keeps them, sealed under the chain's file name;
// false when they cannot be sealed (an empty chain included).
[[nodiscard]] bool SealChain(std::span<const uint8_t> chain, const char* name,
                             SecureBuffer& sealed);

// A kept chain's bytes back from their seal; false when the seal was changed,
// damaged or made under another name.
[[nodiscard]] bool UnsealChain(std::span<const uint8_t> sealed, const char* name,
                               SecureBuffer& chain);

}  // namespace qalv
