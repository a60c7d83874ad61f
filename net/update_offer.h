// The reader update offer: when a package names a newer reader, ask, fetch
// the installer into the work folder and start it.
#pragma once

#include <string>

#include "verify/policy_state.h"

namespace qalv {

// True only when the user accepted and the installer was started (the
// reader then closes). Compares the versions as plain text.
[[nodiscard]] bool OfferReaderUpdate(PolicyState& state, const std::string& requiredVersion,
                                     const std::string& updateAddress);

// True when the whole reply body was stored as workFolder + "update.exe".
[[nodiscard]] bool DownloadUpdate(PolicyState& state, const std::string& address);

}  // namespace qalv
