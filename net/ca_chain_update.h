// Fetches the CA chain of an authority key identifier from the certificate-
// chain service and stores it sealed in the work folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "verify/policy_state.h"

namespace qalv {

// 1 when the chain file was written, 0 otherwise (after telling the user
// through state.ownerWindow where the failure calls for it).
[[nodiscard]] int32_t UpdateCaChain(PolicyState& state, const std::string& url,
                                    const uint8_t* keyId, size_t keyIdLength);

}  // namespace qalv
