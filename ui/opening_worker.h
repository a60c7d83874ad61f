// The opening of a package on a worker thread, so that the window goes on
// painting and the page stays live while the package is read, the chain
// service is asked and the signatures are checked. Every question the
// opening puts to its window (message boxes, the password prompt, the update
// offer) is carried to the window's thread and waited for, so boxes still
// come one at a time, in order, owned by the window.
#pragma once

#include <QDialog>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "session/policy_state.h"

namespace qalv {

// Opens `path` into `state` on a worker while the window's thread runs its
// events, and gives the opening's status. When `window` closes first, the
// worker is told (it writes nothing more, its questions are answered with
// cancel) and granted a short grace; the result is then empty. A worker still
// running after that is left to end on its own with the state it co-owns,
// its late result dropped, and `state` is replaced by a fresh one in the same
// surroundings. Without a thread to be had, the opening runs here as before.
std::optional<int32_t> OpenPolicyOffThread(std::shared_ptr<PolicyState>& state,
                                           const std::filesystem::path& path, QDialog& window);

// True once an opening was left running behind a closed window: the process
// should end without waiting for it.
bool OpeningAbandoned();

}  // namespace qalv
