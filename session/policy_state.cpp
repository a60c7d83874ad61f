#include "session/policy_state.h"

#include <algorithm>
#include <cstring>

namespace qalv {

PolicyState::PolicyState(std::string folder) : programFolder(std::move(folder)) {
  std::copy_n(kAuthPrefix, std::strlen(kAuthPrefix), authPrefix.begin());
}

bool OwnerClosed(const PolicyState& state) {
  return state.ownerWindow != nullptr && state.ownerWindow->Closed();
}

bool InsurerTrusted(const PolicyState& state) {
  return state.s1SignResult == 0 && state.s2SignResult == 0 && state.s1CertResult == 0 &&
         state.s2CertResult == 0;
}

bool AuthorityTrusted(const PolicyState& state) {
  return state.s3SignResult == 0 && state.s3CertResult == 0;
}

std::string_view AuthPrefixText(const PolicyState& state) {
  const auto* text = reinterpret_cast<const char*>(state.authPrefix.data());
  return {text, strnlen(text, state.authPrefix.size())};
}

}  // namespace qalv
