// An owner window for tests: records every message box and answers from a
// script, as the command-line tool's headless window does.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "session/owner_window.h"

namespace qalv::test {

class RecordingOwnerWindow : public OwnerWindow {
 public:
  Answer ShowMessage(const Message& message) override {
    messages.push_back(message);
    return message.buttons == Buttons::kOkCancel ? questionAnswer : Answer::kOk;
  }
  Answer AskPassword(const std::string& hintUrl, const std::string& batchNumber,
                     std::string& entered) override {
    passwordRequests.push_back(hintUrl + "|" + batchNumber);
    if (!password) return Answer::kCancel;
    entered = *password;
    return Answer::kOk;
  }
  int32_t OpenWithDesktop(const std::filesystem::path& file) override {
    opened.push_back(file);
    return openResult;
  }
  void CloseMainWindow() override { ++closeRequests; }

  std::vector<Message> messages;
  std::vector<std::string> passwordRequests;
  std::vector<std::filesystem::path> opened;
  int closeRequests = 0;
  int32_t openResult = 42;  // started
  Answer questionAnswer = Answer::kCancel;
  std::optional<std::string> password;
};

}  // namespace qalv::test
