#include "net/online_verification.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "net/authenticators.h"
#include "net/http_exchange.h"
#include "platform/code_page.h"
#include "platform/file_io.h"

namespace qalv {
namespace {

constexpr uint32_t kConnectTimeoutMs = 10000;
constexpr uint32_t kReceiveTimeoutMs = 40000;
constexpr size_t kMaxStatusText = 255;

int32_t Fail(PolicyState& state, std::string text) {
  state.statusText = std::move(text);
  return -1;
}

int32_t Request(PolicyState& state, const std::filesystem::path& packagePath) {
  // A document length outside the buffer is no decrypted document either.
  if (state.decryptState != 0 || state.pdfLength < 0 ||
      static_cast<size_t>(state.pdfLength) > state.pdfData.size()) {
    return Fail(state, "保單未正確開啟");
  }

  // The path is shown with forward slashes. Where backslashes separate
  // folders that changes only the text; where they are name characters the
  // file is still read by the path as given.
  std::string shownPath = packagePath.string();
  std::replace(shownPath.begin(), shownPath.end(), '\\', '/');
  const std::string readFailed = shownPath + "讀取失敗";

  OnlineAuthenticator authenticator;
  if (!MakeOnlineAuthenticator(AuthPrefixText(state), state.pdfData.data(),
                               static_cast<size_t>(state.pdfLength), state.s1DigestId, packagePath,
                               authenticator)) {
    return Fail(state, readFailed);
  }

  // The exchange splits the service address itself, so a file that vanished
  // since its digest was taken is reported before an address that cannot be
  // split.
  SecureBuffer package;
  if (ReadWholeFile(packagePath, package) != 0) return Fail(state, readFailed);

  HttpRequest request;
  request.url = state.certChainUrl;
  request.objectName =
      "/acquvSrv/verify?auth=" + authenticator.auth + "&hash=" + authenticator.hash;
  request.connectTimeoutMs = kConnectTimeoutMs;
  request.receiveTimeoutMs = kReceiveTimeoutMs;
  request.headerLine = "Content-Type: application/qalv-acquv-vfytpk";
  request.body = package.data();
  request.bodyLength = package.size();
  const HttpReply reply = HttpExchange(request);
  package.Release();

  using Outcome = HttpReply::Outcome;
  switch (reply.outcome) {
    case Outcome::kOk:
      break;
    case Outcome::kBadUrl:
      return Fail(state, "驗證網址有誤：" + state.certChainUrl);
    case Outcome::kConnectFailed:
    case Outcome::kHttpStatus:
      return Fail(state, "連線失敗,無法驗證");
    case Outcome::kReadFailed:
    case Outcome::kNoMemory: {
      char text[64];
      std::snprintf(text, sizeof text, "接收資料失敗(0x%x)", reply.systemError);
      return Fail(state, text);
    }
  }

  // Ill-formed UTF-8 shows as U+FFFD.
  const std::string_view text = ReplyText(reply);
  state.onlineResponse = Utf8Text({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
  return 0;
}

}  // namespace

int32_t RequestOnlineVerification(PolicyState& state, const std::filesystem::path& packagePath) {
  state.statusCode = -1;
  state.statusText.clear();
  try {
    return Request(state, packagePath);
  } catch (const std::exception& e) {
    return Fail(state, Utf8Prefix(e.what(), kMaxStatusText));
  }
}

}  // namespace qalv
