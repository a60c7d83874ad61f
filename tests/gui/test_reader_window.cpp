// The real main window driven through its page: openings of good, damaged,
// hostile and cancelled packages, the recent menu, a PDF on the command line,
// the backup copy and the keys the window keeps from the page.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QWebEngineView>
#include <filesystem>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "writer/der_writer.h"

namespace qalv {
namespace {

constexpr char kPassword[] = "test-password";

class ReaderWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    std::filesystem::create_directories(Work());
    test::StoreSealedChain(Work());
  }

  std::filesystem::path Work() const { return home_.path() / "qalvquv"; }


  QString Write(const std::string& name, const writer::Bytes& bytes) {
    test::WriteFile(files_.path() / name, bytes);
    return QString::fromStdString((files_.path() / name).string());
  }

  QString WritePackage(const std::string& name, const writer::PackageSpec& spec) {
    return Write(name, writer::BuildPackage(spec));
  }

  void Start(const QString& commandLine = {}) {
    driver_ = std::make_unique<test::ReaderDriver>(home_.path(), commandLine);
    ASSERT_TRUE(driver_->WaitUntilReady());
  }

  // Presses "開啟電子保單" and picks `path`, answering the prompt with `password`.
  void OpenThroughPage(const QString& path, std::optional<QString> password) {
    driver_->window->SetFileChoosers([path] { return path; }, [](const QString&) { return QString(); });
    answers_.Password(password);
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("openTpk()")));
  }

  // Opens a file that the pipeline rejects before any prompt.
  void OpenWithoutPrompt(const QString& path) {
    driver_->window->SetFileChoosers([path] { return path; }, [](const QString&) { return QString(); });
    ASSERT_TRUE(driver_->CallPage(QStringLiteral("openTpk()")));
  }

  test::TempDir home_;
  test::TempDir files_;
  test::ModalAnswers answers_;
  std::unique_ptr<test::ReaderDriver> driver_;
};

constexpr auto kOwnerReadWrite =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

// A work folder the window makes is its owner's alone.
TEST_F(ReaderWindowTest, WorkFolderIsMadePrivate) {
  std::filesystem::remove_all(Work());
  Start();
  EXPECT_EQ(std::filesystem::status(Work()).permissions(), std::filesystem::perms::owner_all);
}

TEST_F(ReaderWindowTest, GenuinePackageShowsTheVerdictTreeSealsAndPreview) {
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  const QString path = WritePackage("good.tpk", spec);
  Start();
  EXPECT_TRUE(driver_->window->windowTitle().startsWith(QStringLiteral("QALV 電子保單瀏覽器 版本 1.2.8.0")));
  OpenThroughPage(path, QString::fromLatin1(kPassword));

  test::ReaderDriver& page = *driver_;
  const QString account = QString::fromStdString(spec.versionInfo.accountName);
  EXPECT_EQ(page.Shown("status"), QStringLiteral("本保單已通過") + account + QStringLiteral("及QALV第三方認證，內容未經修改。"));
  EXPECT_EQ(page.Style("status", "color"), "black");
  EXPECT_EQ(page.Style("verifyResult", "display"), "");
  EXPECT_EQ(page.Shown("s1Title"), account + QStringLiteral("保單內容電子簽章 正確"));
  EXPECT_EQ(page.Shown("s2Title"), account + QStringLiteral("保單封包電子簽章 正確"));
  EXPECT_EQ(page.Html("s3Title"), QStringLiteral("QALV第三方認證電子簽章 正確"));
  for (const char* id : {"s1Sign", "s2Sign", "s3Sign"}) EXPECT_EQ(page.Html(id), QStringLiteral("簽章正確")) << id;
  for (const char* id : {"s1Cert", "s2Cert", "s3Cert"}) EXPECT_EQ(page.Html(id), QStringLiteral("憑證合格")) << id;
  EXPECT_TRUE(page.Html("s1SignTime").startsWith(QStringLiteral("簽章時間：20")));
  EXPECT_EQ(page.Html("memo"), QString::fromStdString(spec.versionInfo.memo));
  EXPECT_EQ(page.Style("versionInfo", "display"), "");
  EXPECT_EQ(page.Style("preview", "display"), "");

  // The pictures come from the work folder through the page's own scheme and
  // really load.
  EXPECT_TRUE(page.Attribute("ipkseal", "src").startsWith(QStringLiteral("res:/WORK/ITS?")));
  EXPECT_TRUE(page.Attribute("tpkseal", "src").startsWith(QStringLiteral("res:/WORK/TTS?")));
  ASSERT_TRUE(test::WaitFor([&] {
    return page.Eval("['snapshot','ipkseal','tpkseal'].every(id => document.getElementById(id).naturalWidth > 0)")
        .toBool();
  }));
  EXPECT_EQ(page.Attribute("ipksealMark", "data-verdict"), "pass");
  EXPECT_EQ(page.Attribute("tpksealMark", "data-verdict"), "pass");
  EXPECT_GT(page.Eval("document.querySelector('#ButtonOpen img').naturalWidth").toInt(), 0);

  const QByteArray document(reinterpret_cast<const char*>(spec.document.data()),
                            static_cast<qsizetype>(spec.document.size()));
  EXPECT_EQ(page.Property("m_b64Data"), QString::fromLatin1(document.toBase64()));
  EXPECT_EQ(page.Property("m_dataPin"), "");
  EXPECT_EQ(driver_->recent.Slot(0), path);
  EXPECT_EQ(page.Text("document.querySelector('#menuPad > div').textContent"), path);
}

TEST_F(ReaderWindowTest, WrongPasswordShowsTheTreeButKeepsTheEarlierDocument) {
  const writer::PackageSpec& spec = test::SharedPackageSpec();
  const QString first = WritePackage("first.tpk", spec);
  const QString second = WritePackage("second.tpk", spec);
  Start();
  OpenThroughPage(first, QString::fromLatin1(kPassword));
  const QString earlier = driver_->Property("m_b64Data");
  ASSERT_FALSE(earlier.isEmpty());

  OpenThroughPage(second, QStringLiteral("wrong"));
  EXPECT_TRUE(driver_->Shown("status").startsWith(QStringLiteral("本保單解密密碼有誤，")));
  EXPECT_EQ(driver_->Style("status", "color"), "maroon");
  EXPECT_EQ(driver_->Style("verifyResult", "display"), "");
  EXPECT_EQ(driver_->Style("preview", "display"), "none");
  EXPECT_EQ(driver_->Property("m_b64Data"), earlier);
}

TEST_F(ReaderWindowTest, MalformedPackageShowsOnlyTheStatusLine) {
  const QString path = Write("broken.tpk", writer::Bytes{0x30, 0x03, 0x02, 0x01});
  Start();
  OpenWithoutPrompt(path);
  EXPECT_TRUE(driver_->Shown("status").startsWith(QStringLiteral("本保單驗證有誤，")));
  EXPECT_EQ(driver_->Style("verifyResult", "display"), "none");
  EXPECT_EQ(driver_->Style("preview", "display"), "none");
  EXPECT_EQ(driver_->recent.Slot(0), path);
}

TEST_F(ReaderWindowTest, CancelledPromptResetsThePageAndListsNothing) {
  const QString good = WritePackage("good.tpk", test::SharedPackageSpec());
  const QString other = WritePackage("other.tpk", test::SharedPackageSpec());
  Start();
  OpenThroughPage(good, QString::fromLatin1(kPassword));
  OpenThroughPage(other, std::nullopt);
  EXPECT_EQ(driver_->Shown("status"), "");
  EXPECT_EQ(driver_->Style("verifyResult", "display"), "none");
  EXPECT_EQ(driver_->Style("preview", "display"), "none");
  EXPECT_EQ(driver_->Attribute("snapshot", "src"), "");
  EXPECT_TRUE(driver_->window->PolicyPath().isEmpty());
  EXPECT_EQ(driver_->recent.Slot(0), good);
  EXPECT_EQ(driver_->recent.Slot(1), "");
}

TEST_F(ReaderWindowTest, HostileTextsFromThePackageRunNothing) {
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.versionInfo.accountName = "<img src=x onerror=\"window.__ran=1\"><script>window.__ran=2</script>保險";
  spec.versionInfo.memo = "<b>注意</b><br><img src=x onerror=\"window.__ran=3\"><script>window.__ran=4</script>";
  const QString path = WritePackage("hostile.tpk", spec);
  Start();
  OpenThroughPage(path, QString::fromLatin1(kPassword));
  // Give a failing picture's error handler time to fire, had it survived.
  QTest::qWait(300);
  EXPECT_TRUE(driver_->Eval("window.__ran === undefined").toBool());
  EXPECT_EQ(driver_->Eval("document.querySelectorAll('#status script, #status [onerror], #memo script, "
                          "#memo [onerror], #s1Title [onerror]').length")
                .toInt(),
            0);
  EXPECT_TRUE(driver_->Html("memo").contains("<b>注意</b><br>"));
  EXPECT_TRUE(driver_->Shown("status").contains(QStringLiteral("保險")));
}

TEST_F(ReaderWindowTest, RecentMenuKeepsTheTenNewestAndDropsVanishedFiles) {
  std::vector<QString> paths;
  for (int i = 0; i < 11; ++i) {
    paths.push_back(Write("p" + std::to_string(i) + " & <x> \"q\" 'a' \U0001D49C&amp;.tpk", {0x30, 0x00}));
  }
  Start();
  for (const QString& path : paths) OpenWithoutPrompt(path);
  EXPECT_EQ(driver_->Eval("document.querySelectorAll('#menuPad > div').length").toInt(), 10);
  EXPECT_EQ(driver_->Text("document.querySelector('#menuPad > div').textContent"), paths[10]);

  // Reopening an entry whose name holds "&", "<", quotes, an entity's
  // spelling and a character outside the BMP finds the file.
  ASSERT_TRUE(driver_->CallPage("openRecently(document.querySelectorAll('#menuPad > div')[3])"));
  EXPECT_EQ(driver_->window->PolicyPath(), paths[7]);
  EXPECT_EQ(driver_->recent.Slot(0), paths[7]);

  std::filesystem::remove(paths[9].toStdString());
  answers_.Message();
  ASSERT_TRUE(driver_->CallPage("openRecently(Array.from(document.querySelectorAll('#menuPad > div'))"
                                ".find(d => d.textContent === " +
                                test::JsString(paths[9]) + "))"));
  ASSERT_EQ(answers_.messages.size(), 1u);
  EXPECT_EQ(answers_.messages[0], QStringLiteral("資訊|") + paths[9] + QStringLiteral("不存在或無法存取。"));
  EXPECT_FALSE(driver_->Shown("menuPad").contains(QStringLiteral("p9 ")));
  EXPECT_EQ(driver_->Eval("document.querySelectorAll('#menuPad > div').length").toInt(), 9);
}

TEST_F(ReaderWindowTest, PdfOnTheCommandLineGoesToTheBrowserAndClosesTheReader) {
  const writer::Bytes pdf = {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'};
  const QString path = Write("plain doc.PDF", pdf);
  Start(path);
  const QByteArray expected = "var b64Pdf=\"" + QByteArray("%PDF-1.4\n").toBase64() + "\";";
  EXPECT_EQ(test::ReadFile(Work() / "b64Pdf.js"), writer::Bytes(expected.begin(), expected.end()));
  EXPECT_EQ(std::filesystem::status(Work() / "b64Pdf.js").permissions(), kOwnerReadWrite);
  EXPECT_EQ(driver_->Html("menuPad"), "");
  EXPECT_TRUE(test::WaitFor([&] { return !driver_->window->isVisible(); }));
}

TEST_F(ReaderWindowTest, BackupProposesTheNameAndNeverDamagesTheTarget) {
  const QString path = Write("a.tpk", {0x30, 0x00});
  Start();
  answers_.Message();
  driver_->window->SetFileChoosers([] { return QString(); }, [](const QString&) { return QString(); });
  ASSERT_TRUE(driver_->CallPage("copyTpk()"));
  EXPECT_EQ(answers_.messages.at(0), QStringLiteral("資訊|請先開啟電子保單"));

  OpenWithoutPrompt(path);
  QString proposed;
  const QString target = QString::fromStdString((files_.path() / "copy.tpk").string());
  driver_->window->SetFileChoosers({}, [&](const QString& name) { return proposed = name, target; });
  answers_.Message();
  ASSERT_TRUE(driver_->CallPage("copyTpk()"));
  EXPECT_EQ(proposed, "backup_a.tpk");
  EXPECT_EQ(answers_.messages.at(1), QStringLiteral("資訊|已備份至") + target);
  EXPECT_EQ(test::ReadFile(target.toStdString()), (writer::Bytes{0x30, 0x00}));

  // A folder that cannot take the copy: the message, nothing written.
  const QString missingFolder = QString::fromStdString((files_.path() / "missing" / "x.tpk").string());
  driver_->window->SetFileChoosers({}, [&](const QString&) { return missingFolder; });
  answers_.Message();
  ASSERT_TRUE(driver_->CallPage("copyTpk()"));
  EXPECT_TRUE(answers_.messages.at(2).startsWith(QStringLiteral("錯誤|備份失敗：")));
  EXPECT_FALSE(std::filesystem::exists(files_.path() / "missing"));
}

// Enter and Escape work the page from the keyboard but never close the window.
TEST_F(ReaderWindowTest, F5CtrlFAndCtrlNNeverReachThePageEnterAndEscNeverCloseIt) {
  Start();
  QWidget* target = driver_->window->findChild<QWebEngineView*>()->focusProxy();
  ASSERT_NE(target, nullptr);
  driver_->Eval("window.__keys = []; document.addEventListener('keydown', e => { if (e.key !== 'Control') window.__keys.push(e.key); });");
  QTest::keyClick(target, Qt::Key_F, Qt::ControlModifier);
  QTest::keyClick(target, Qt::Key_N, Qt::ControlModifier);
  QTest::keyClick(target, Qt::Key_Escape);
  QTest::keyClick(target, Qt::Key_Return);
  QTest::keyClick(target, Qt::Key_F5);
  QTest::keyClick(target, Qt::Key_F);
  QTest::keyClick(target, Qt::Key_N);
  ASSERT_TRUE(test::WaitFor([&] { return driver_->Eval("window.__keys.length").toInt() >= 4; }));
  QTest::qWait(100);
  EXPECT_EQ(driver_->Text("window.__keys.join(',')"), "Escape,Enter,f,n");
  EXPECT_TRUE(driver_->window->isVisible());
}

TEST_F(ReaderWindowTest, F1ShowsTheAboutBoxWithTheVersion) {
  Start();
  QString shown;
  answers_.Push([&](QWidget* dialog) {
    shown = QString::fromLatin1(dialog->metaObject()->className()) + u'|' + dialog->windowTitle() + u'|' +
            dialog->findChild<QLabel*>(QStringLiteral("1005"))->text();
    dialog->close();
  });
  QTest::keyClick(driver_->window->findChild<QWebEngineView*>()->focusProxy(), Qt::Key_F1);
  ASSERT_TRUE(test::WaitFor([&] { return !shown.isEmpty(); }));
  EXPECT_EQ(shown, QStringLiteral("qalv::CAboutDlg|關於 QALV 電子保單瀏覽器|版本 1.2.8.0"));
}

}  // namespace
}  // namespace qalv
