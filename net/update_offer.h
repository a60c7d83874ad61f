// The reader update offer: when a package names a newer reader, ask, fetch
// the installer into the work folder and say where it is. Nothing is
// started: a file from the network is never run by the reader.
#pragma once

#include <string>

#include "session/policy_state.h"

namespace qalv {

// Compares the versions as plain text; tells the user through
// state.ownerWindow what came of an accepted offer.
void OfferReaderUpdate(PolicyState& state, const std::string& requiredVersion,
                       const std::string& updateAddress);

// True when the whole reply body was stored as workFolder + "update.exe".
[[nodiscard]] bool DownloadUpdate(PolicyState& state, const std::string& address);

}  // namespace qalv
