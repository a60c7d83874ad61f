// RSA PKCS #1 v1.5 signature verification that recognises the digest from the
// DigestInfo inside the signature block instead of being told it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "x509/certificate.h"

namespace qalv {

namespace digest_id {
inline constexpr int32_t kNone = 0;  // raw comparison, or an unknown MD-family member
inline constexpr int32_t kMd2 = 2;
inline constexpr int32_t kMd4 = 3;
inline constexpr int32_t kMd5 = 4;
inline constexpr int32_t kSha1 = 5;
inline constexpr int32_t kSha256 = 11;
inline constexpr int32_t kSha384 = 12;
inline constexpr int32_t kSha512 = 13;
inline constexpr int32_t kSha224 = 14;
}  // namespace digest_id

namespace signature {
inline constexpr int32_t kBadInput = 1024;
inline constexpr int32_t kBadPadding = 1040;
inline constexpr int32_t kArithmeticFailed = 1088;  // combined with the big-number code
inline constexpr int32_t kDigestMismatch = 1120;
inline constexpr int32_t kUnrecognisedDigestInfo = 1136;
inline constexpr int32_t kRefusedDigest = 1137;
}  // namespace signature

// Verifies `signatureBytes` (its first key.length() bytes) over `data` with
// `key`. The block's payload is either `data` itself (identifier kNone) or the
// exact DER DigestInfo of an MD5, SHA-1, SHA-224 or SHA-256 digest of `data`;
// any other DigestInfo layout is refused. `digestId` is written only once the
// DigestInfo is reached; before that it keeps the caller's value.
[[nodiscard]] int32_t VerifySignature(const RsaPublicKey& key, int32_t& digestId,
                                      const uint8_t* data, size_t dataLength,
                                      const uint8_t* signatureBytes, size_t signatureLength);

}  // namespace qalv
