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

std::string_view AuthPrefixText(const PolicyState& state) {
  const auto* text = reinterpret_cast<const char*>(state.authPrefix.data());
  return {text, strnlen(text, state.authPrefix.size())};
}

}  // namespace qalv
