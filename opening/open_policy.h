// The opening of a policy package: read, check the platform, offer an update,
// ask for the password, write the seals and preview, check the certificates,
// the signatures and the digests, decrypt, and leave every result in the
// policy state.
#pragma once

#include <cstdint>
#include <filesystem>

#include "session/policy_state.h"

namespace qalv {

namespace status {
inline constexpr int32_t kNotForThisPlatform = 1001;
inline constexpr int32_t kPasswordCancelled = 1002;
inline constexpr int32_t kUnreadable = 1003;
inline constexpr int32_t kMalformed = 1004;
inline constexpr int32_t kS3Signature = 1005;
inline constexpr int32_t kS2Signature = 1006;
inline constexpr int32_t kCipherChanged = 1007;
inline constexpr int32_t kSnapshotChanged = 1008;
inline constexpr int32_t kS1Signature = 1009;
inline constexpr int32_t kCertificates = 1016;
}  // namespace status

// The status of the last check that failed (0 when none did); its text is in
// state.statusText. Everything the call allocates is released (the package
// copy wiped) on every path.
[[nodiscard]] int32_t OpenPolicy(PolicyState& state, const std::filesystem::path& path);

}  // namespace qalv
