// Fetches the CA chain of an authority key identifier from the certificate-
// chain service. What the service sends is only a candidate: the chain store
// decides whether it leads to a trusted root before keeping it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/secure_buffer.h"
#include "session/policy_state.h"

namespace qalv {

// 1 with the chain text as the service sent it in `chain`; 0 otherwise
// (after telling the user through state.ownerWindow where the failure calls
// for it).
[[nodiscard]] int32_t FetchCaChain(PolicyState& state, const std::string& url,
                                   const uint8_t* keyId, size_t keyIdLength, SecureBuffer& chain);

}  // namespace qalv
