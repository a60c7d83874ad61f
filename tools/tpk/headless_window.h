// The owner window of `tpk`: records every message box instead of showing it,
// answers the password prompt from the options, and starts no program.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <json/value.h>

#include "session/owner_window.h"

namespace qalv::tpk {

class HeadlessWindow : public OwnerWindow {
 public:
  // `password` empty or absent: the prompt is cancelled. `acceptUpdate`: the
  // update question is answered OK.
  HeadlessWindow(std::optional<std::string> password, bool acceptUpdate);

  Answer ShowMessage(const Message& message) override;
  Answer AskPassword(const std::string& hintUrl, const std::string& batchNumber,
                     std::string& password) override;
  // A command-line tool does not start downloaded programs: reported as "no
  // program associated", which the update offer tells the user.
  int32_t OpenWithDesktop(const std::filesystem::path& file) override;
  void CloseMainWindow() override {}

  // [{"caption", "text", "answer": "ok" | "cancel"}] in the order shown.
  const Json::Value& messages() const { return messages_; }

 private:
  std::optional<std::string> password_;
  bool acceptUpdate_;
  Json::Value messages_{Json::arrayValue};
};

}  // namespace qalv::tpk
