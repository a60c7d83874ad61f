// The reader update offer: which announced versions lead to the question, the
// download into the work folder, the start of the installer, and the message
// of every way that fails.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "net/update_offer.h"
#include "tests/support/local_server.h"
#include "tests/support/recording_owner_window.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using Icon = OwnerWindow::Icon;
using Buttons = OwnerWindow::Buttons;

constexpr char kPath[] = "/acquvSrv/update";
constexpr char kQuestion[] = "檢測到有更新的版本，若要下載新版本請點選確定。";

// Bytes no text handling would keep intact: zeros, high bytes, CR LF.
std::string Installer(size_t size) {
  std::string bytes(size, '\0');
  uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  return std::string("MZ\0\r\n\xFF", 6) + bytes;
}

class UpdateOfferTest : public testing::Test {
 protected:
  void SetUp() override {
    state_.ownerWindow = &window_;
    state_.workFolder = dir_.path().string() + "/";
    state_.readerVersion = "1.2.8.0";
  }

  // Serves `body` with `status` at kPath and records what arrives.
  void Serve(std::string body, int status = 200) {
    server_.server().Post(kPath, [this, body, status](const httplib::Request& request,
                                                      httplib::Response& response) {
      ++requests_;
      target_ = request.target;
      requestBody_ = request.body;
      response.status = status;
      response.set_content(body, "application/octet-stream");
    });
    server_.Start();
  }

  bool Offer(const std::string& version, const std::string& address) {
    return OfferReaderUpdate(state_, version, address);
  }

  std::filesystem::path InstallerPath() const { return dir_ / "update.exe"; }

  std::string StoredInstaller() const {
    const test::Bytes bytes = test::ReadFile(InstallerPath());
    return std::string(bytes.begin(), bytes.end());
  }

  // Every box after the question, with its caption, icon and button checked.
  std::vector<std::string> ErrorTexts() const {
    std::vector<std::string> texts;
    for (size_t i = 1; i < window_.messages.size(); ++i) {
      const OwnerWindow::Message& m = window_.messages[i];
      EXPECT_EQ(m.caption, "錯誤");
      EXPECT_EQ(m.buttons, Buttons::kOk);
      texts.push_back(m.text);
    }
    return texts;
  }

  test::TempDir dir_;
  test::RecordingOwnerWindow window_;
  PolicyState state_;
  std::atomic<int> requests_{0};
  std::string target_;
  std::string requestBody_;
  // Last, so the server stops before the fields its handler writes go.
  test::LocalServer server_;
};

TEST_F(UpdateOfferTest, OffersOnlyVersionsThatAreGreaterAsText) {
  Serve(Installer(10));
  window_.questionAnswer = OwnerWindow::Answer::kCancel;
  struct Case {
    std::string version;
    bool offered;
  };
  // Text order: 1.2.10.0 is older than 1.2.8.0, 1.2.8.0.1 newer.
  for (const Case& c : {Case{"1.2.9.0", true}, Case{"1.3", true}, Case{"1.2.8.0.1", true},
                        Case{"1.2.8.1", true}, Case{"2", true}, Case{"1.2.10.0", false},
                        Case{"1.2.8.0", false}, Case{"1.2.8", false}, Case{"", false},
                        Case{"0.9.9.9", false}}) {
    window_.messages.clear();
    EXPECT_FALSE(Offer(c.version, server_.Url(kPath))) << c.version;
    ASSERT_EQ(window_.messages.size(), c.offered ? 1u : 0u) << c.version;
    if (c.offered) {
      const OwnerWindow::Message& question = window_.messages[0];
      EXPECT_EQ(question.text, kQuestion);
      EXPECT_EQ(question.caption, "更新資訊");
      EXPECT_EQ(question.icon, Icon::kQuestion);
      EXPECT_EQ(question.buttons, Buttons::kOkCancel);
      EXPECT_TRUE(question.owned);
    }
  }
  // Declining fetches nothing.
  EXPECT_EQ(requests_, 0);
  EXPECT_FALSE(std::filesystem::exists(InstallerPath()));
  EXPECT_TRUE(window_.opened.empty());
}

TEST_F(UpdateOfferTest, WithoutAReaderVersionEveryAnnouncedVersionIsNewer) {
  state_.readerVersion.clear();
  EXPECT_FALSE(Offer("0", "http://127.0.0.1:1/"));
  EXPECT_EQ(window_.messages.size(), 1u);
}

TEST_F(UpdateOfferTest, AcceptedOfferDownloadsAndStartsTheInstaller) {
  const std::string installer = Installer(300000);
  Serve(installer);
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  // The query part of the address is not sent.
  EXPECT_TRUE(Offer("1.2.9.0", server_.Url(std::string(kPath) + "?token=abc")));
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(target_, kPath);
  EXPECT_TRUE(requestBody_.empty());
  EXPECT_EQ(StoredInstaller(), installer);
  ASSERT_EQ(window_.opened.size(), 1u);
  EXPECT_EQ(window_.opened[0], InstallerPath());
  EXPECT_EQ(window_.messages.size(), 1u);  // the question alone
  EXPECT_EQ(window_.closeRequests, 0);     // closing is the caller's part
}

TEST_F(UpdateOfferTest, DownloadReplacesAnOlderInstallerWhole) {
  test::WriteFile(InstallerPath(), Installer(5000));
  Serve("short");
  EXPECT_TRUE(DownloadUpdate(state_, server_.Url(kPath)));
  EXPECT_EQ(StoredInstaller(), "short");
  EXPECT_TRUE(window_.messages.empty());
}

TEST_F(UpdateOfferTest, EmptyInstallerIsWrittenAndItsStartFailureShown) {
  Serve("");
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  window_.openResult = 2;
  const std::string address = server_.Url(kPath);
  EXPECT_FALSE(Offer("1.3", address));
  ASSERT_TRUE(std::filesystem::exists(InstallerPath()));
  EXPECT_EQ(std::filesystem::file_size(InstallerPath()), 0u);
  EXPECT_EQ(window_.opened.size(), 1u);
  EXPECT_EQ(ErrorTexts(), std::vector<std::string>{address + "路徑錯誤或不存在(2)"});
}

TEST_F(UpdateOfferTest, EachShellStartResultHasItsMessage) {
  Serve("MZ");
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  const std::string a = server_.Url(kPath);
  struct Case {
    int32_t result;
    std::optional<std::string> text;  // none: started
  };
  for (const Case& c : {
           Case{0, a + "路徑錯誤或不存在(0)"},
           Case{1, a + "路徑錯誤或不存在(1)"},
           Case{2, a + "路徑錯誤或不存在(2)"},
           Case{3, a + "路徑錯誤或不存在(3)"},
           Case{4, "請檢查網路是否已連線，無法開啟URL(4)"},
           Case{5, a + "禁止存取(5)"},
           Case{26, "請檢查網路是否已連線，無法開啟URL(26)"},
           Case{31, "找不到程式開啟URL，請確定預設瀏覽器是否設定"},
           Case{32, "請檢查網路是否已連線，無法開啟URL(32)"},
           Case{-1, "請檢查網路是否已連線，無法開啟URL(-1)"},
           Case{33, std::nullopt},
           Case{42, std::nullopt},
       }) {
    window_.messages.clear();
    window_.openResult = c.result;
    EXPECT_EQ(Offer("1.2.9.0", a), !c.text) << c.result;
    const std::vector<std::string> errors = ErrorTexts();
    if (c.text) {
      EXPECT_EQ(errors, std::vector<std::string>{*c.text}) << c.result;
      for (const OwnerWindow::Message& m : window_.messages) {
        if (m.caption == "錯誤") {
          EXPECT_EQ(m.icon, Icon::kWarning);
        }
      }
    } else {
      EXPECT_TRUE(errors.empty()) << c.result;
    }
  }
}

TEST_F(UpdateOfferTest, FailedDownloadsShowTheAddressAndStartNothing) {
  Serve("not found", 404);
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  const std::string served = server_.Url(kPath);
  const std::string unreachable = "http://127.0.0.1:1/acquvSrv/update";
  for (const std::string& address : {served, unreachable, std::string("no address"),
                                    std::string("")}) {
    window_.messages.clear();
    EXPECT_FALSE(Offer("1.2.9.0", address)) << address;
    EXPECT_EQ(ErrorTexts(), std::vector<std::string>{address + "下載失敗"}) << address;
    EXPECT_EQ(window_.messages.back().icon, Icon::kWarning);
  }
  EXPECT_EQ(requests_, 1);
  EXPECT_FALSE(std::filesystem::exists(InstallerPath()));
  EXPECT_TRUE(window_.opened.empty());
}

TEST_F(UpdateOfferTest, InstallerThatCannotBeWrittenIsAFailedDownload) {
  Serve(Installer(100));
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  std::filesystem::create_directory(InstallerPath());
  const std::string address = server_.Url(kPath);
  EXPECT_FALSE(Offer("1.2.9.0", address));
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(ErrorTexts(), std::vector<std::string>{address + "下載失敗"});
  EXPECT_TRUE(window_.opened.empty());
}

TEST_F(UpdateOfferTest, WithoutAnOwnerWindowNoOfferIsMade) {
  Serve(Installer(10));
  state_.ownerWindow = nullptr;
  EXPECT_FALSE(Offer("9", server_.Url(kPath)));
  EXPECT_EQ(requests_, 0);
}

// The reference service's installer, as the reader fetches it.
TEST(UpdateService, ServesTheInstallerOfItsDataFolder) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "data" / "update");
  std::filesystem::create_directories(dir / "work");
  const test::BackgroundProcess services(
      {test::ServicesPath(), "--data", (dir / "data").string(), "--listen", "127.0.0.1:0"},
      dir / "services.log");
  ASSERT_TRUE(services.firstLine().starts_with("http://127.0.0.1:")) << services.firstLine();
  const std::string address = services.firstLine() + kPath;

  test::RecordingOwnerWindow window;
  PolicyState state;
  state.ownerWindow = &window;
  state.workFolder = (dir / "work").string() + "/";
  EXPECT_FALSE(DownloadUpdate(state, address));  // none stored yet: 404
  EXPECT_FALSE(std::filesystem::exists(dir / "work" / "update.exe"));

  const std::string installer = Installer(70000);
  test::WriteFile(dir / "data" / "update" / "update.exe", installer);
  EXPECT_TRUE(DownloadUpdate(state, address));
  const test::Bytes stored = test::ReadFile(dir / "work" / "update.exe");
  EXPECT_EQ(std::string(stored.begin(), stored.end()), installer);
  EXPECT_TRUE(window.messages.empty());
}

}  // namespace
}  // namespace qalv
