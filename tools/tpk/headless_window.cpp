#include "tools/tpk/headless_window.h"

namespace qalv::tpk {

namespace {
constexpr int32_t kNoAssociatedProgram = 31;
}  // namespace

HeadlessWindow::HeadlessWindow(std::optional<std::string> password, bool acceptUpdate)
    : password_(std::move(password)), acceptUpdate_(acceptUpdate) {}

OwnerWindow::Answer HeadlessWindow::ShowMessage(const Message& message) {
  const bool question = message.buttons == Buttons::kOkCancel;
  const Answer answer = question && !acceptUpdate_ ? Answer::kCancel : Answer::kOk;
  Json::Value entry(Json::objectValue);
  entry["caption"] = message.caption;
  entry["text"] = message.text;
  entry["answer"] = answer == Answer::kOk ? "ok" : "cancel";
  messages_.append(entry);
  return answer;
}

OwnerWindow::Answer HeadlessWindow::AskPassword(const std::string&, const std::string&,
                                                std::string& password) {
  if (!password_ || password_->empty()) return Answer::kCancel;
  password = *password_;
  return Answer::kOk;
}

int32_t HeadlessWindow::OpenWithDesktop(const std::filesystem::path&) {
  return kNoAssociatedProgram;
}

}  // namespace qalv::tpk
