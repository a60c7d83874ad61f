// The password-hint service: the password rules of a policy batch, as HTML
// for the password prompt's hint pane. Every outcome is a text.
#pragma once

#include <string>

#include "session/owner_window.h"

namespace qalv {

// `serviceAddress` is the policy's certChainUrl: only its scheme, host and
// port are used. `owner` (may be null) owns the few message boxes.
[[nodiscard]] std::string QueryPasswordHint(const std::string& serviceAddress,
                                            const std::string& batchNumber, OwnerWindow* owner);

}  // namespace qalv
