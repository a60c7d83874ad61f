// The password-hint service's reply and the text the password prompt shows
// for it. Any reply gives a text, valid UTF-8, without an exception escaping
// (a text is not promised to be non-empty: an error reply's empty message is
// shown as it is). The input read as a batch's rules also makes the reply
// the reference service writes for them: valid UTF-8 rules reach the prompt
// exactly, under the heading.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <json/value.h>
#include <json/writer.h>

#include "net/password_hint.h"
#include "platform/code_page.h"

namespace {

constexpr std::string_view kHeading =
    "密碼提示原則如下：<div style='height:59px; overflow:auto'>";
constexpr std::string_view kHintEnd = "</div>";

// The reply of tools/qalv-services for a batch it has rules for.
std::string RulesReply(const std::string& rules) {
  Json::Value reply(Json::objectValue);
  reply["code"] = "0";
  reply["msg"] = "";
  reply["vfyhint"] = rules;
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  writer["emitUTF8"] = true;
  return Json::writeString(writer, reply);
}

bool IsUtf8(std::string_view text) {
  return qalv::IsValidUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (!IsUtf8(qalv::HintTextFromReply(input))) __builtin_trap();

  if (!IsUtf8(input)) return 0;
  const std::string expected = std::string(kHeading) + input + std::string(kHintEnd);
  if (qalv::HintTextFromReply(RulesReply(input)) != expected) __builtin_trap();
  return 0;
}
