// The password-hint service: the password rules of a policy batch, as HTML
// for the password prompt's hint pane. Every outcome is a text.
#pragma once

#include <string>
#include <string_view>

#include "session/owner_window.h"

namespace qalv {

// `serviceAddress` is the policy's certChainUrl: only its scheme, host and
// port are used. `owner` (may be null) owns the few message boxes.
[[nodiscard]] std::string QueryPasswordHint(const std::string& serviceAddress,
                                            const std::string& batchNumber, OwnerWindow* owner);

// The text for the service's reply, given as the bytes of its body (a zero
// byte ends its text): the rules under the heading for code 0, else the
// service's message, or the reason it could not be read.
[[nodiscard]] std::string HintTextFromReply(std::string_view reply);

}  // namespace qalv
