// What the operations behind the page's buttons work on: the page, the policy
// state and the window's members. The window owns all of them.
#pragma once

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "session/policy_state.h"
#include "ui/element_writer.h"
#include "ui/shell/recent_file_list.h"

namespace qalv {

struct ReaderContext {
  ElementWriter& page;
  PolicyState& policy;  // policy.ownerWindow owns every message box
  RecentFileList& recent;
  QString& policyPath;  // m_policyPath
  QString& b64Data;     // m_b64Data
  QString& dataPin;     // m_dataPin
  QString workDir;      // m_workDir, ends with "/"
  // Opens a package into `policy`: the opening's status, or nothing when the
  // window closed first. Unset: the opening runs at once on this thread.
  std::function<std::optional<int32_t>(const std::filesystem::path&)> openPolicy = {};
};

}  // namespace qalv
