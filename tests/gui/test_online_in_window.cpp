// "QALV線上驗證" in the real window against the reference services: a package
// they issued, opened through the page and verified online, shows the
// confirmation; with the services gone the reason shows in red.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/test_support.h"

namespace qalv {
namespace {

using test::ShellQuote;

constexpr char kPassword[] = "pw";
constexpr char kAccount[] = "線上人壽";

class OnlineInWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    const std::string services = ShellQuote((files_ / "services").string());
    ASSERT_EQ(test::RunTpk("ca --out " + ShellQuote((files_ / "pki").string()) + " --keys " +
                           ShellQuote((test::TestDataDir() / "keys-pki").string()) + " --services " + services)
                  .exitCode,
              0);
    services_.emplace(std::vector<std::string>{test::ServicesPath(), "--data", (files_ / "services").string(),
                                               "--listen", "127.0.0.1:0"},
                      files_ / "services.log");
    ASSERT_EQ(services_->firstLine().rfind("http://127.0.0.1:", 0), 0u) << services_->firstLine();

    test::WriteFile(files_ / "doc.pdf", std::string("%PDF-1.4 a policy verified online"));
    const test::TpkAnswer packed = test::RunTpk(
        "pack --out " + ShellQuote(package_.string()) + " --document " + ShellQuote((files_ / "doc.pdf").string()) +
        " --password " + kPassword + " --pki " + ShellQuote((files_ / "pki").string()) + " --account-name " +
        ShellQuote(kAccount) + " --file-name " + ShellQuote("保單B.pdf") + " --cert-chain-url " +
        ShellQuote(services_->firstLine() + "/acquvSrv/caChain") + " --services " + services);
    ASSERT_EQ(packed.exitCode, 0) << packed.err;

    driver_.emplace(home_.path());
    ASSERT_TRUE(driver_->WaitUntilReady());
    const QString path = QString::fromStdString(package_.string());
    driver_->window->SetFileChoosers([path] { return path; }, [](const QString&) { return QString(); });
    answers_.Password(QString::fromLatin1(kPassword));
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("openTpk()")));
    ASSERT_EQ(driver_->window->Policy().decryptState, 0) << driver_->window->Policy().statusText;
  }

  test::TempDir home_;
  test::TempDir files_;
  const std::filesystem::path package_ = files_ / "issued.tpk";
  std::optional<test::BackgroundProcess> services_;
  test::ModalAnswers answers_;
  std::optional<test::ReaderDriver> driver_;
};

TEST_F(OnlineInWindowTest, ConfirmedThenUnreachable) {
  test::ReaderDriver& page = *driver_;
  ASSERT_TRUE(page.PressOnlineVerify());
  const QString signTime = QString::fromStdString(page.window->Policy().ipkSignTime);
  EXPECT_EQ(page.Style("onlineVerify", "display"), "");
  EXPECT_EQ(page.Html("onlineSummary"), QStringLiteral("此份保單由QALV線上驗證無誤"));
  EXPECT_EQ(page.Html("os1Detail"), QStringLiteral("由") + QString::fromUtf8(kAccount) + QStringLiteral("於 ") +
                                        signTime + QStringLiteral(" 簽署，簽章內容與保單相符，文件內容未經修改"));
  EXPECT_EQ(page.Style("os1Detail", "color"), "black");
  EXPECT_TRUE(page.Html("verifyTime").startsWith(QStringLiteral("驗證時間：20")));
  EXPECT_EQ(page.Style("onlineStatus", "display"), "");
  EXPECT_EQ(page.Html("fileName"), QStringLiteral("保單B.pdf"));

  services_.reset();
  ASSERT_TRUE(page.PressOnlineVerify());
  EXPECT_EQ(page.Html("onlineSummary"), QStringLiteral("此份保單由QALV線上驗證有問題"));
  EXPECT_EQ(page.Html("os1Detail"), QStringLiteral("連線失敗,無法驗證"));
  EXPECT_EQ(page.Style("os1Detail", "color"), "red");
  EXPECT_EQ(page.Style("onlineStatus", "display"), "none");
  EXPECT_TRUE(answers_.messages.empty());
}

}  // namespace
}  // namespace qalv
