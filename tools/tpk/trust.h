// The trust folder option that every subcommand accepts, and the trust it
// selects: --trust-dir, else the reader's own lookup.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "x509/trust_anchors.h"

namespace qalv::tpk {

// Adds --trust-dir to the application; it may be given before or after the
// subcommand.
void AddTrustOption(CLI::App& app);

// The anchors and authority certificates in force for this run.
std::shared_ptr<const TrustAnchors> LoadTrust();

}  // namespace qalv::tpk
