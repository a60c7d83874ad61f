#include "net/update_offer.h"

#include <exception>
#include <string_view>

#include "net/http_exchange.h"
#include "platform/code_page.h"
#include "platform/file_io.h"

namespace qalv {
namespace {

constexpr char kInstallerName[] = "update.exe";
constexpr uint32_t kConnectTimeoutMs = 8000;
constexpr size_t kMaxShownException = 254;
constexpr int32_t kStarted = 32;  // shell start results above this mean started

constexpr char kQuestion[] = "檢測到有更新的版本，若要下載新版本請點選確定。";
constexpr char kDownloadFailed[] = "下載失敗";

void Tell(PolicyState& state, const std::string& text, OwnerWindow::Icon icon) {
  if (state.ownerWindow == nullptr) return;
  state.ownerWindow->ShowMessage({"錯誤", text, icon, OwnerWindow::Buttons::kOk});
}

// The error box of the offer itself.
void TellWarning(PolicyState& state, const std::string& text) {
  Tell(state, text, OwnerWindow::Icon::kWarning);
}

void TellException(PolicyState& state, const std::exception& e) {
  Tell(state, Utf8Prefix(e.what(), kMaxShownException), OwnerWindow::Icon::kError);
}

std::string InstallerPath(const PolicyState& state) { return state.workFolder + kInstallerName; }

bool Download(PolicyState& state, const std::string& address) {
  HttpRequest request;
  request.url = address;
  request.connectTimeoutMs = kConnectTimeoutMs;
  const HttpReply reply = HttpExchange(request);
  if (reply.outcome == HttpReply::Outcome::kNoMemory) {
    Tell(state, "記憶體配置失敗", OwnerWindow::Icon::kError);
    return false;
  }
  if (reply.outcome != HttpReply::Outcome::kOk) return false;
  return WriteWholeFile(InstallerPath(state), reply.data.data(),
                        static_cast<size_t>(reply.length)) == 0;
}

// Why the shell did not start the installer, by its start result.
std::string StartFailureText(const std::string& address, int32_t result) {
  const std::string code = std::to_string(result);
  if (result >= 0 && result <= 3) return address + "路徑錯誤或不存在(" + code + ")";
  if (result == 5) return address + "禁止存取(" + code + ")";
  if (result == 31) return "找不到程式開啟URL，請確定預設瀏覽器是否設定";
  return "請檢查網路是否已連線，無法開啟URL(" + code + ")";
}

bool Offer(PolicyState& state, const std::string& requiredVersion,
           const std::string& updateAddress) {
  // Plain text order, not by the numbers between the dots: 1.2.10.0 is older
  // than 1.2.8.0. Bytes of UTF-8 order as the code points do, which for
  // version texts (ASCII) is the order of their UTF-16 code units.
  if (requiredVersion <= state.readerVersion) return false;
  // Without a window to ask, nobody accepted.
  if (state.ownerWindow == nullptr) return false;
  const OwnerWindow::Answer answer = state.ownerWindow->ShowMessage(
      {"更新資訊", kQuestion, OwnerWindow::Icon::kQuestion, OwnerWindow::Buttons::kOkCancel});
  if (answer != OwnerWindow::Answer::kOk) return false;

  if (!DownloadUpdate(state, updateAddress)) {
    TellWarning(state, updateAddress + kDownloadFailed);
    return false;
  }
  const int32_t result = state.ownerWindow->OpenWithDesktop(InstallerPath(state));
  if (result > kStarted) return true;
  TellWarning(state, StartFailureText(updateAddress, result));
  return false;
}

}  // namespace

bool OfferReaderUpdate(PolicyState& state, const std::string& requiredVersion,
                       const std::string& updateAddress) {
  try {
    return Offer(state, requiredVersion, updateAddress);
  } catch (const std::exception& e) {
    TellException(state, e);
    return false;
  }
}

bool DownloadUpdate(PolicyState& state, const std::string& address) {
  try {
    return Download(state, address);
  } catch (const std::exception& e) {
    TellException(state, e);
    return false;
  }
}

}  // namespace qalv
