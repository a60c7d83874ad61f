// Fetches the CA chain of an authority key identifier from the certificate-
// chain service. What the service sends is only a candidate: the chain store
// decides whether it leads to a trusted root before keeping it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/secure_buffer.h"
#include "session/policy_state.h"

namespace qalv {

// 1 with the chain text as the service sent it in `chain`; 0 otherwise
// (after telling the user through state.ownerWindow where the failure calls
// for it).
[[nodiscard]] int32_t FetchCaChain(PolicyState& state, const std::string& url,
                                   const uint8_t* keyId, size_t keyIdLength, SecureBuffer& chain);

// Reads the service's reply text by position: an object whose first member
// value is the result code and whose second member value is the chain text,
// taken as the exact bytes of the reply (no escape undone). 1 with the text in
// `chain` only for the service's success code and a non-empty text; 0
// otherwise (telling the user through state.ownerWindow why the reply was
// refused).
[[nodiscard]] int32_t ReadChainReply(PolicyState& state, std::string_view reply,
                                     SecureBuffer& chain);

}  // namespace qalv
