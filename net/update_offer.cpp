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
// An installer is far larger than the services' answers, but still bounded.
constexpr size_t kMaxInstallerBytes = size_t{512} << 20;
constexpr size_t kMaxShownException = 254;

constexpr char kQuestion[] = "檢測到有更新的版本，若要下載新版本請點選確定。";
constexpr char kDownloadFailed[] = "下載失敗";
constexpr char kSavedBefore[] = "新版本的安裝程式已下載至：\n";
constexpr char kSavedAfter[] = "\n本程式不會自動執行下載的檔案，請確認來源後再自行安裝。";

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
  request.maxReplyBytes = kMaxInstallerBytes;
  const HttpReply reply = HttpExchange(request);
  if (reply.outcome == HttpReply::Outcome::kNoMemory) {
    Tell(state, "記憶體配置失敗", OwnerWindow::Icon::kError);
    return false;
  }
  if (reply.outcome != HttpReply::Outcome::kOk || OwnerClosed(state)) return false;
  return WritePrivateFile(InstallerPath(state), reply.data.data(),
                          static_cast<size_t>(reply.length)) == 0;
}

void Offer(PolicyState& state, const std::string& requiredVersion,
           const std::string& updateAddress) {
  // Plain text order, not by the numbers between the dots: 1.2.10.0 is older
  // than 1.2.8.0. Bytes of UTF-8 order as the code points do, which for
  // version texts (ASCII) is the order of their UTF-16 code units.
  if (requiredVersion <= state.readerVersion) return;
  // Without a window to ask, nobody accepted.
  if (state.ownerWindow == nullptr) return;
  const OwnerWindow::Answer answer = state.ownerWindow->ShowMessage(
      {"更新資訊", kQuestion, OwnerWindow::Icon::kQuestion, OwnerWindow::Buttons::kOkCancel});
  if (answer != OwnerWindow::Answer::kOk) return;

  if (!DownloadUpdate(state, updateAddress)) {
    TellWarning(state, updateAddress + kDownloadFailed);
    return;
  }
  // The file came from the network: handing it to the desktop's opener could
  // start anything. The user is told where it is and installs it knowingly.
  state.ownerWindow->ShowMessage({"更新資訊", kSavedBefore + InstallerPath(state) + kSavedAfter,
                                  OwnerWindow::Icon::kInformation, OwnerWindow::Buttons::kOk});
}

}  // namespace

void OfferReaderUpdate(PolicyState& state, const std::string& requiredVersion,
                       const std::string& updateAddress) {
  try {
    Offer(state, requiredVersion, updateAddress);
  } catch (const std::exception& e) {
    TellException(state, e);
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
