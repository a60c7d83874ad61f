// Each online service against a server that breaks off its reply, resets the
// connection, announces a wrong length or shows a certificate for another
// name: what the user is told, what the page reads, what is left in the work
// folder, and that every call comes back promptly.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "net/http_exchange.h"
#include "net/online_verification.h"
#include "net/password_hint.h"
#include "net/update_offer.h"
#include "opening/ca_chain_store.h"
#include "tests/support/env_override.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/raw_server.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"
#include "tests/support/tls_files.h"
#include "writer/crypto.h"

namespace qalv {
namespace {

using Icon = OwnerWindow::Icon;
using Buttons = OwnerWindow::Buttons;
using Ending = test::RawServer::Ending;
using Clock = std::chrono::steady_clock;

// However a server misbehaves, a service call ends within this.
constexpr auto kPromptly = std::chrono::seconds(10);

constexpr char kEarlierResponse[] = "an earlier reply";
const std::string kNoNetwork = "目前偵測不到網路，請在網路連線狀態下再次嘗試。";
const std::string kUnparsable = "目前系統無法提供密碼提示服務。無法解析回傳資料：";
// Stand-ins in the expected texts for what only the running test knows.
constexpr char kUrl[] = "{url}";
constexpr char kTlsError[] = "{tls}";

enum class Fault {
  kClosedMidBody,          // half the announced body, then FIN
  kResetUnread,            // RST once the request arrives, none of it read
  kResetAfterStatusLine,   // the status line alone, then RST
  kResetMidBody,           // half the announced body, then RST
  kLengthOverSent,         // the whole body announced longer than it is, then FIN
  kLengthUnderSent,        // the whole body announced two bytes shorter, then FIN
  kHttpsForAnotherName,    // a certificate that does not name the host asked for
};

// What one service call left: the service's result, the text the page or the
// prompt shows, the message boxes, and the files in the work folder.
struct Seen {
  int32_t result = 0;
  std::string text;
  std::vector<std::string> boxes;
  std::vector<std::string> files;
};

const char* IconName(Icon icon) {
  switch (icon) {
    case Icon::kNone: return "none";
    case Icon::kInformation: return "information";
    case Icon::kWarning: return "warning";
    case Icon::kError: return "error";
    case Icon::kQuestion: return "question";
  }
  return "?";
}

std::string Box(const std::string& caption, const std::string& text, Icon icon,
                Buttons buttons = Buttons::kOk, bool owned = true) {
  return "[" + caption + "] " + text + " (" + IconName(icon) +
         (buttons == Buttons::kOk ? ", ok" : ", ok/cancel") + (owned ? ")" : ", no owner)");
}

std::vector<std::string> Boxes(const test::RecordingOwnerWindow& window) {
  std::vector<std::string> boxes;
  for (const OwnerWindow::Message& m : window.messages) {
    boxes.push_back(Box(m.caption, m.text, m.icon, m.buttons, m.owned));
  }
  return boxes;
}

// One line each, so that a failure shows the texts themselves.
std::string Lines(const std::vector<std::string>& items) {
  std::string lines;
  for (const std::string& item : items) lines += item + "\n";
  return lines;
}

std::vector<std::string> Files(const test::TempDir& work) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(work.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------------------
// The four services, each called as the reader calls it, with a body that a
// well-behaved server would send for success.

const std::string& ChainName() {
  static const std::string name = test::Hex(test::SharedPki().intermediate.key->KeyIdentifier());
  return name;
}

std::string ChainBody() {
  return "{\"code\":\"0000\",\"chain\":\"" +
         writer::Base64Text(writer::ChainFile(test::SharedPki())) + "\"}";
}

// The insurer's certificate checked while a package opens, its chain not yet
// in the work folder.
Seen OpenWithChainFrom(const std::string& url) {
  test::TempDir work;
  test::RecordingOwnerWindow window;
  PolicyState state;
  state.workFolder = work.path().string() + "/";
  state.certChainUrl = url;
  state.ownerWindow = &window;
  state.trust = test::SharedTrust();
  const test::Bytes& insurer = test::SharedPki().insurer.certificate;
  CertificateList own;
  EXPECT_EQ(ParseCertificate(own, insurer.data(), insurer.size()), 0);
  Seen seen;
  seen.result = own.empty() ? -100 : CheckAgainstCaChain(state, own, own[0].authorityKeyId);
  // A chain named here is not asked for again in this opening.
  for (const std::string& name : state.chainsFetched) seen.text += name;
  seen.boxes = Boxes(window);
  seen.files = Files(work);
  return seen;
}

constexpr char kHintBody[] = "{\"code\":\"0\",\"msg\":\"\",\"vfyhint\":\"身分證字號後四碼\"}";

Seen AskHintFrom(const std::string& url) {
  test::RecordingOwnerWindow window;
  Seen seen;
  seen.text = QueryPasswordHint(url, "B-1", &window);
  seen.boxes = Boxes(window);
  return seen;
}

constexpr char kVerifyBody[] = "{\"code\":\"0000\",\"msg\":\"保單驗證成功\"}";

// The page reads the status text, and the answer kept from an earlier
// request stays when this one fails.
Seen VerifyOnlineAt(const std::string& url) {
  test::TempDir dir;
  test::WriteFile(dir / "policy.tpk", std::string(3001, 'p'));
  const std::string document = "%PDF-1.4 the policy document";
  PolicyState state;
  state.certChainUrl = url;
  state.decryptState = 0;
  state.s1DigestId = 11;  // SHA-256
  EXPECT_TRUE(state.pdfData.Assign(reinterpret_cast<const uint8_t*>(document.data()),
                                   document.size()));
  state.pdfLength = static_cast<int32_t>(document.size());
  state.onlineResponse = kEarlierResponse;
  Seen seen;
  seen.result = RequestOnlineVerification(state, dir / "policy.tpk");
  EXPECT_EQ(state.statusCode, -1);
  seen.text = state.statusText + " / " + state.onlineResponse;
  return seen;
}

constexpr char kInstallerBody[] = "MZ installer of the newer reader";
const std::string kQuestionBox =
    Box("更新資訊", "檢測到有更新的版本，若要下載新版本請點選確定。", Icon::kQuestion,
        Buttons::kOkCancel);

// The offer accepted; the text is what was stored as the installer.
Seen UpdateReaderFrom(const std::string& url) {
  test::TempDir work;
  test::RecordingOwnerWindow window;
  window.questionAnswer = OwnerWindow::Answer::kOk;
  PolicyState state;
  state.workFolder = work.path().string() + "/";
  state.readerVersion = "1.2.8.0";
  state.ownerWindow = &window;
  OfferReaderUpdate(state, "1.2.9.0", url);
  Seen seen;
  if (std::filesystem::exists(work / "update.exe")) {
    const test::Bytes stored = test::ReadFile(work / "update.exe");
    seen.text.assign(stored.begin(), stored.end());
  }
  seen.boxes = Boxes(window);
  // The work folder's own path would make the saved-at text differ per run.
  for (std::string& box : seen.boxes) {
    if (const size_t at = box.find(state.workFolder); at != std::string::npos) {
      box.replace(at, state.workFolder.size(), "{work}/");
    }
  }
  seen.files = Files(work);
  return seen;
}

struct Service {
  const char* name;
  const char* path;
  std::string body;
  Seen (*call)(const std::string& url);
};

// ---------------------------------------------------------------------------
// A server whose one answer is `body` spoiled by `fault`, at any path.
class FaultyServer {
 public:
  FaultyServer(Fault fault, const std::string& body) {
    const auto head = [](size_t announced) {
      return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) + "\r\n\r\n";
    };
    const std::string half = head(body.size()) + body.substr(0, body.size() / 2);
    switch (fault) {
      case Fault::kClosedMidBody: raw_.emplace(half, Ending::kClose); break;
      case Fault::kResetUnread: raw_.emplace("", Ending::kResetUnread); break;
      case Fault::kResetAfterStatusLine:
        raw_.emplace("HTTP/1.1 200 OK\r\n", Ending::kReset);
        break;
      case Fault::kResetMidBody: raw_.emplace(half, Ending::kReset); break;
      case Fault::kLengthOverSent:
        raw_.emplace(head(body.size() + 16) + body, Ending::kClose);
        break;
      case Fault::kLengthUnderSent:
        raw_.emplace(head(body.size() - 2) + body, Ending::kClose);
        break;
      case Fault::kHttpsForAnotherName:
        https_.emplace(test::Tls().cert.c_str(), test::Tls().key.c_str());
        https_->Post(".*", [body](const httplib::Request&, httplib::Response& response) {
          response.set_content(body, "application/octet-stream");
        });
        serving_.emplace(*https_);
        break;
    }
  }

  // The certificate names 127.0.0.1, so "localhost" is another name for the
  // same server.
  std::string Url(const std::string& path) const {
    if (raw_) return raw_->Url(path);
    return "https://localhost:" + std::to_string(serving_->port()) + path;
  }

 private:
  std::optional<test::RawServer> raw_;
  std::optional<httplib::SSLServer> https_;
  std::optional<test::Serving> serving_;
};

// libcurl's own words for the refused certificate, which two services pass on.
std::string TlsErrorText() {
  FaultyServer server(Fault::kHttpsForAnotherName, "");
  HttpRequest request;
  request.url = server.Url("/");
  request.connectTimeoutMs = 5000;
  return HttpExchange(request).systemErrorText;
}

std::string Filled(std::string text, const std::string& url, const std::string& tlsError) {
  using Mark = std::pair<std::string, std::string>;
  for (const auto& [mark, value] : {Mark{kUrl, url}, Mark{kTlsError, tlsError}}) {
    for (size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + value.size())) {
      text.replace(at, mark.size(), value);
    }
  }
  return text;
}

class ExchangeFaults : public testing::Test {
 protected:
  // The test CA is trusted, so only the host name can fail; no proxy from the
  // machine's environment stands between the services and the test servers.
  test::EnvOverride env_{{"SSL_CERT_FILE", test::Tls().ca.c_str()}, {"CURL_CA_BUNDLE", nullptr},
                         {"SSL_CERT_DIR", nullptr}, {"http_proxy", nullptr},
                         {"https_proxy", nullptr}, {"HTTPS_PROXY", nullptr},
                         {"all_proxy", nullptr}, {"ALL_PROXY", nullptr}};
};

TEST_F(ExchangeFaults, EachServiceTellsTheUserAndKeepsNothingPartial) {
  const Service services[] = {
      {"chain", "/acquvSrv/caChain", ChainBody(), OpenWithChainFrom},
      {"hint", "/acquvSrv/hint.htm", kHintBody, AskHintFrom},
      {"online", "/acquvSrv/verify", kVerifyBody, VerifyOnlineAt},
      {"update", "/acquvSrv/update.exe", kInstallerBody, UpdateReaderFrom},
  };
  const auto half = [](const std::string& body) { return body.substr(0, body.size() / 2); };
  const auto shorter = [](const std::string& body) { return body.substr(0, body.size() - 2); };

  const auto chainError = [](const std::string& text) {
    return Seen{-1, "", {Box("錯誤", text, Icon::kError)}, {}};
  };
  const Seen chainUnreadable = chainError("回傳資料格式錯誤(-3)");
  const Seen chainNoStatus = chainError("連線失敗(StatusCode=0)");
  const auto hint = [](const std::string& text) { return Seen{0, text, {}, {}}; };
  const auto online = [](int32_t result, const std::string& statusText, const std::string& kept) {
    return Seen{result, statusText + " / " + kept, {}, {}};
  };
  const Seen onlineNoConnection = online(-1, "連線失敗,無法驗證", kEarlierResponse);
  const Seen updateFailed{
      0, "", {kQuestionBox, Box("錯誤", std::string(kUrl) + "下載失敗", Icon::kWarning)}, {}};

  struct Row {
    const char* name;
    Fault fault;
    Seen chain, hint, online, update;
  };
  const Row rows[] = {
      {"closed mid-body", Fault::kClosedMidBody, chainUnreadable,
       hint(kUnparsable + half(kHintBody)), online(-1, "接收資料失敗(0x12)", kEarlierResponse),
       updateFailed},
      {"reset on accept, request unread", Fault::kResetUnread, chainNoStatus,
       hint(kNoNetwork + "連線失敗(StatusCode=0)"), onlineNoConnection, updateFailed},
      {"reset after the status line", Fault::kResetAfterStatusLine, chainNoStatus,
       hint(kNoNetwork + "連線失敗(StatusCode=0)"), onlineNoConnection, updateFailed},
      {"reset mid-body", Fault::kResetMidBody, chainUnreadable,
       hint(kUnparsable + half(kHintBody)), online(-1, "接收資料失敗(0x38)", kEarlierResponse),
       updateFailed},
      // The chain and hint services take a body cut short as complete; the
      // chain is kept only because it leads to a trust anchor.
      {"Content-Length more than sent", Fault::kLengthOverSent,
       Seen{0, ChainName(), {}, {ChainName()}},
       hint("密碼提示原則如下：<div style='height:59px; overflow:auto'>身分證字號後四碼</div>"),
       online(-1, "接收資料失敗(0x12)", kEarlierResponse), updateFailed},
      // The server's word is taken: the bytes past the announced length never count.
      {"Content-Length fewer than sent", Fault::kLengthUnderSent, chainUnreadable,
       hint(kUnparsable + shorter(kHintBody)), online(0, "", shorter(kVerifyBody)),
       Seen{0, shorter(kInstallerBody),
            {kQuestionBox,
             Box("更新資訊",
                 "新版本的安裝程式已下載至：\n{work}/update.exe\n"
                 "本程式不會自動執行下載的檔案，請確認來源後再自行安裝。",
                 Icon::kInformation)},
            {"update.exe"}}},
      {"HTTPS, certificate for another name", Fault::kHttpsForAnotherName,
       Seen{-1, "", {Box("憑證鏈更新錯誤", kTlsError, Icon::kError, Buttons::kOk, false)}, {}},
       hint(kNoNetwork + kTlsError), onlineNoConnection, updateFailed},
  };

  const std::string tlsError = TlsErrorText();
  EXPECT_NE(tlsError.find("localhost"), std::string::npos) << tlsError;  // says which name
  Clock::duration slowest{};
  for (const Row& row : rows) {
    const Seen* expected[] = {&row.chain, &row.hint, &row.online, &row.update};
    for (size_t i = 0; i < std::size(services); ++i) {
      const Service& service = services[i];
      SCOPED_TRACE(std::string(row.name) + ", " + service.name);
      const FaultyServer server(row.fault, service.body);
      const std::string url = server.Url(service.path);
      const Clock::time_point start = Clock::now();
      const Seen seen = service.call(url);
      const Clock::duration took = Clock::now() - start;
      slowest = std::max(slowest, took);
      EXPECT_LT(took, kPromptly);
      EXPECT_EQ(seen.result, expected[i]->result);
      EXPECT_EQ(seen.text, Filled(expected[i]->text, url, tlsError));
      std::string boxes;
      for (const std::string& box : expected[i]->boxes) boxes += Filled(box, url, tlsError) + "\n";
      EXPECT_EQ(Lines(seen.boxes), boxes);
      EXPECT_EQ(Lines(seen.files), Lines(expected[i]->files));
    }
  }
  using std::chrono::milliseconds;
  RecordProperty("slowestCallMs",
                 static_cast<int>(std::chrono::duration_cast<milliseconds>(slowest).count()));
}

}  // namespace
}  // namespace qalv
