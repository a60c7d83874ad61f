// The online verification request: the package file and two authenticators
// to the authority's verification service; the answer kept as text.
#pragma once

#include <cstdint>
#include <filesystem>

#include "session/policy_state.h"

namespace qalv {

// 0 with state.onlineResponse set, or -1 with state.statusText saying why.
// Sets state.statusCode to -1 when it starts.
[[nodiscard]] int32_t RequestOnlineVerification(PolicyState& state,
                                                const std::filesystem::path& packagePath);

}  // namespace qalv
