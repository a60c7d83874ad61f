#include "net/ca_chain_update.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

// The tokenizer is header-only; keep its functions private to this file.
#define JSMN_STATIC
#include <jsmn.h>

#include "net/authenticators.h"
#include "net/http_exchange.h"
#include "platform/code_page.h"

namespace qalv {
namespace {

constexpr uint32_t kConnectTimeoutMs = 8000;
constexpr unsigned kTokenSlots = 10;
constexpr std::string_view kSuccessCode = "0000";
constexpr size_t kMaxShownException = 255;

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

void Tell(PolicyState& state, const std::string& caption, const std::string& text,
          bool owned = true) {
  if (state.ownerWindow == nullptr) return;
  state.ownerWindow->ShowMessage({caption, text, OwnerWindow::Icon::kError,
                                  OwnerWindow::Buttons::kOk, owned});
}

void TellError(PolicyState& state, const std::string& text) { Tell(state, "錯誤", text); }

std::string_view TokenText(std::string_view reply, const jsmntok_t& token) {
  return reply.substr(static_cast<size_t>(token.start),
                      static_cast<size_t>(token.end - token.start));
}

// Reports an exchange that did not end well; true when what arrived is still
// worth reading.
bool ReportOutcome(PolicyState& state, const HttpReply& reply) {
  using Outcome = HttpReply::Outcome;
  switch (reply.outcome) {
    case Outcome::kOk:
      return true;
    case Outcome::kBadUrl:
      return false;
    case Outcome::kConnectFailed:
      Tell(state, "憑證鏈更新錯誤", reply.systemErrorText, /*owned=*/false);
      return false;
    case Outcome::kHttpStatus:
      TellError(state, Format("連線失敗(StatusCode=%d)", reply.statusCode));
      return false;
    case Outcome::kNoMemory:
      TellError(state, "記憶體配置失敗");
      return true;
    case Outcome::kReadFailed:
      TellError(state, Format("讀取資料失敗(%u)(0x%x)", reply.systemError, reply.systemError));
      return true;
  }
  return false;
}

}  // namespace

int32_t ReadChainReply(PolicyState& state, std::string_view reply, SecureBuffer& chain) {
  jsmn_parser parser;
  jsmn_init(&parser);
  jsmntok_t tokens[kTokenSlots] = {};
  const int count = jsmn_parse(&parser, reply.data(), reply.size(), tokens, kTokenSlots);
  if (count < 5) {
    TellError(state, Format("回傳資料格式錯誤(%d)", count));
    return 0;
  }
  if (tokens[0].type != JSMN_OBJECT || tokens[2].type != JSMN_STRING ||
      tokens[3].type != JSMN_STRING) {
    TellError(state, Format("回傳資料型態錯誤(%d)", count));
    return 0;
  }
  // Anything but the service's success code is an error reply, not a chain.
  const std::string code(TokenText(reply, tokens[2]));
  if (code != kSuccessCode) {
    TellError(state, Format("回傳代碼=%s(%d)", code.c_str(), count));
    return 0;
  }
  // A success reply without a chain text has nothing for the store to test;
  // it is refused here like any reply of the wrong shape.
  const std::string_view text = TokenText(reply, tokens[4]);
  if (text.empty()) {
    TellError(state, Format("回傳資料型態錯誤(%d)", count));
    return 0;
  }
  return chain.Assign(reinterpret_cast<const uint8_t*>(text.data()), text.size()) ? 1 : 0;
}

namespace {

int32_t Fetch(PolicyState& state, const std::string& url, const uint8_t* keyId,
              size_t keyIdLength, SecureBuffer& chain) {
  ChainUpdateAuthenticator authenticator;
  if (!MakeChainUpdateAuthenticator(AuthPrefixText(state), keyId, keyIdLength, authenticator)) {
    return 0;
  }
  const std::string body = "auth=" + authenticator.auth + "&aki=" + authenticator.aki;

  HttpRequest request;
  request.url = url;
  request.connectTimeoutMs = kConnectTimeoutMs;
  request.headerLine = "Content-Type: application/x-www-form-urlencoded";
  request.body = reinterpret_cast<const uint8_t*>(body.data());
  request.bodyLength = body.size();
  request.cutBodyIsComplete = true;
  const HttpReply reply = HttpExchange(request);
  if (!ReportOutcome(state, reply)) return 0;

  return ReadChainReply(state, ReplyText(reply), chain);
}

}  // namespace

int32_t FetchCaChain(PolicyState& state, const std::string& url, const uint8_t* keyId,
                     size_t keyIdLength, SecureBuffer& chain) {
  try {
    return Fetch(state, url, keyId, keyIdLength, chain);
  } catch (const std::exception& e) {
    Tell(state, "憑證鏈更新例外錯誤", Utf8Prefix(e.what(), kMaxShownException));
    return 0;
  }
}

}  // namespace qalv
