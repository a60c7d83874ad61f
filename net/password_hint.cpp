#include "net/password_hint.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string_view>

#include <json/reader.h>
#include <json/value.h>

#include "net/http_exchange.h"
#include "platform/code_page.h"

namespace qalv {
namespace {

constexpr char kHintPath[] = "/acquvSrv/hint.htm";
constexpr uint32_t kConnectTimeoutMs = 5000;
constexpr uint32_t kReceiveTimeoutMs = 5000;
constexpr size_t kMaxShownException = 254;

constexpr char kInvalidAddress[] = "目前系統無法提供密碼提示服務。無效的服務網址：";
constexpr char kNoNetwork[] = "目前偵測不到網路，請在網路連線狀態下再次嘗試。";
constexpr char kNoData[] = "目前系統無法提供密碼提示服務。無回傳資料。";
constexpr char kUnparsable[] = "目前系統無法提供密碼提示服務。無法解析回傳資料：";
constexpr char kException[] = "目前系統無法提供密碼提示服務。例外錯誤：";
constexpr char kHintHeading[] = "密碼提示原則如下：<div style='height:59px; overflow:auto'>";
constexpr char kHintEnd[] = "</div>";

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[128];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

void Tell(OwnerWindow* owner, const std::string& caption, const std::string& text) {
  if (owner == nullptr) return;
  owner->ShowMessage({caption, text, OwnerWindow::Icon::kError, OwnerWindow::Buttons::kOk});
}

std::string Utf8(std::string_view bytes) {
  return Utf8Text({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

bool ParseJson(std::string_view text, Json::Value& root) {
  const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
  std::string errors;
  try {
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  } catch (const Json::Exception&) {
    // Nesting past the reader's depth limit is thrown rather than reported.
    return false;
  }
}

// A member as text the way jsoncpp writes a scalar (missing or null: "", an
// integer: its decimal digits); false for an object or an array, which have
// no text form.
bool MemberText(const Json::Value& object, const char* name, std::string& text) {
  const Json::Value& member = object[name];
  if (member.isObject() || member.isArray()) return false;
  text = member.asString();
  return true;
}

std::string HintFromReply(std::string_view reply) {
  Json::Value root;
  std::string code;
  std::string msg;
  std::string vfyhint;
  if (!ParseJson(reply, root) || !root.isObject() || !MemberText(root, "code", code) ||
      !MemberText(root, "msg", msg) || !MemberText(root, "vfyhint", vfyhint)) {
    return kUnparsable + Utf8(reply);
  }
  if (code == "0") return kHintHeading + Utf8(vfyhint) + kHintEnd;
  return Utf8(msg);
}

std::string Query(const std::string& serviceAddress, const std::string& batchNumber,
                  OwnerWindow* owner) {
  const std::string body = "batchid=" + batchNumber;
  HttpRequest request;
  request.url = serviceAddress;
  request.objectName = kHintPath;
  request.connectTimeoutMs = kConnectTimeoutMs;
  request.receiveTimeoutMs = kReceiveTimeoutMs;
  request.headerLine = "Content-Type: application/x-www-form-urlencoded";
  request.body = reinterpret_cast<const uint8_t*>(body.data());
  request.bodyLength = body.size();
  // A reply cut short is read as far as it came; its text then tells.
  request.cutBodyIsComplete = true;
  const HttpReply reply = HttpExchange(request);

  using Outcome = HttpReply::Outcome;
  switch (reply.outcome) {
    case Outcome::kOk:
      break;
    case Outcome::kBadUrl:
      return kInvalidAddress + serviceAddress;
    case Outcome::kConnectFailed:
      return kNoNetwork + reply.systemErrorText;
    case Outcome::kHttpStatus:
      return kNoNetwork +
             Format("連線失敗(StatusCode=%lu)", static_cast<unsigned long>(reply.statusCode));
    case Outcome::kNoMemory:
      Tell(owner, "錯誤", "記憶體配置失敗");
      break;
    case Outcome::kReadFailed:
      Tell(owner, "錯誤",
           Format("讀取資料失敗(%lu)(0x%x)", static_cast<unsigned long>(reply.systemError),
                  reply.systemError));
      break;
  }
  return HintTextFromReply(
      {reinterpret_cast<const char*>(reply.data.data()), static_cast<size_t>(reply.length)});
}

}  // namespace

std::string HintTextFromReply(std::string_view reply) {
  if (reply.empty()) return kNoData;
  return HintFromReply(reply.substr(0, reply.find('\0')));
}

std::string QueryPasswordHint(const std::string& serviceAddress, const std::string& batchNumber,
                              OwnerWindow* owner) {
  try {
    return Query(serviceAddress, batchNumber, owner);
  } catch (const std::exception& e) {
    const std::string text = Utf8Prefix(e.what(), kMaxShownException);
    Tell(owner, "例外錯誤", text);
    return kException + text;
  }
}

}  // namespace qalv
