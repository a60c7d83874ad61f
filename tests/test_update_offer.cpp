// The reader update offer: which announced versions lead to the question, the
// download into the work folder, the message saying where it is (nothing is
// ever started), and the message of every way that fails.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
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

  void Offer(const std::string& version, const std::string& address) {
    OfferReaderUpdate(state_, version, address);
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
    Offer(c.version, server_.Url(kPath));
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
  Offer("0", "http://127.0.0.1:1/");
  EXPECT_EQ(window_.messages.size(), 1u);
}

// The installer comes from the network: it is saved, 0600, and the user is
// told where; no program is started and the window stays.
TEST_F(UpdateOfferTest, AcceptedOfferSavesTheInstallerAndStartsNothing) {
  // Larger than the cap on the services' answers: an installer has its own.
  const std::string installer = Installer(3 << 20);
  Serve(installer);
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  // The query part of the address is not sent.
  Offer("1.2.9.0", server_.Url(std::string(kPath) + "?token=abc"));
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(target_, kPath);
  EXPECT_TRUE(requestBody_.empty());
  EXPECT_EQ(StoredInstaller(), installer);
  EXPECT_EQ(std::filesystem::status(InstallerPath()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  ASSERT_EQ(window_.messages.size(), 2u);
  const OwnerWindow::Message& saved = window_.messages[1];
  EXPECT_EQ(saved.caption, "更新資訊");
  EXPECT_EQ(saved.buttons, Buttons::kOk);
  EXPECT_NE(saved.text.find(InstallerPath().string()), std::string::npos) << saved.text;
  EXPECT_TRUE(window_.opened.empty());
  EXPECT_EQ(window_.closeRequests, 0);
}

TEST_F(UpdateOfferTest, DownloadReplacesAnOlderInstallerWhole) {
  test::WriteFile(InstallerPath(), Installer(5000));
  Serve("short");
  EXPECT_TRUE(DownloadUpdate(state_, server_.Url(kPath)));
  EXPECT_EQ(StoredInstaller(), "short");
  EXPECT_TRUE(window_.messages.empty());
}

TEST_F(UpdateOfferTest, FailedDownloadsShowTheAddressAndStartNothing) {
  Serve("not found", 404);
  window_.questionAnswer = OwnerWindow::Answer::kOk;
  const std::string served = server_.Url(kPath);
  const std::string unreachable = "http://127.0.0.1:1/acquvSrv/update";
  for (const std::string& address : {served, unreachable, std::string("no address"),
                                    std::string("")}) {
    window_.messages.clear();
    Offer("1.2.9.0", address);
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
  Offer("1.2.9.0", address);
  EXPECT_EQ(requests_, 1);
  EXPECT_EQ(ErrorTexts(), std::vector<std::string>{address + "下載失敗"});
  EXPECT_TRUE(window_.opened.empty());
}

TEST_F(UpdateOfferTest, WithoutAnOwnerWindowNoOfferIsMade) {
  Serve(Installer(10));
  state_.ownerWindow = nullptr;
  Offer("9", server_.Url(kPath));
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
