// The reader as a Linux desktop program: an opening that waits on a slow
// chain service leaves the window live and its boxes in order; closing the
// window during an opening ends it at once with nothing written after; the
// window fits small and large screens; Qt's own texts are Chinese; the file
// comes from the arguments a file manager passes; files can be dropped.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QVariantList>
#include <QUrl>
#include <QWebEngineView>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "platform/trace.h"
#include "tests/gui/support/reader_driver.h"
#include "tests/support/fixtures.h"
#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "ui/opening_worker.h"
#include "ui/password_prompt.h"
#include "ui/progress_dialog.h"
#include "ui/shell/about_dialog.h"
#include "writer/test_pki.h"

namespace qalv {
namespace {

constexpr char kPassword[] = "test-password";

// Every file of a folder with its last change, to tell whether anything was
// written.
std::map<std::string, std::filesystem::file_time_type> Listing(const std::filesystem::path& folder) {
  std::map<std::string, std::filesystem::file_time_type> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = entry.last_write_time();
  }
  return files;
}

// A chain service that holds each request until released, then answers with
// the test PKI's chain.
class HeldChainService {
 public:
  HeldChainService() {
    const writer::Bytes chain = writer::ChainFile(test::SharedPki());
    const QByteArray encoded =
        QByteArray(reinterpret_cast<const char*>(chain.data()), static_cast<qsizetype>(chain.size())).toBase64();
    reply_ = "{\"code\": \"0000\", \"chain\": \"" + encoded.toStdString() + "\"}";
    server_.server().Post("/acquvSrv/caChain", [this](const httplib::Request&, httplib::Response& response) {
      std::unique_lock lock(mutex_);
      ++requests_;
      changed_.wait_for(lock, std::chrono::seconds(20), [this] { return released_; });
      response.set_content(reply_, "application/json");
    });
    server_.Start();
  }
  ~HeldChainService() { Release(); }

  std::string Url() const { return server_.Url("/acquvSrv/caChain"); }
  int Requests() {
    const std::lock_guard lock(mutex_);
    return requests_;
  }
  void Release() {
    {
      const std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int requests_ = 0;
  bool released_ = false;
  std::string reply_;
  test::LocalServer server_;  // last: stops before what its handler uses
};

class NativeWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    trace::SetLogSink({});
    std::filesystem::create_directories(Work());
  }

  std::filesystem::path Work() const { return home_.path() / "qalvquv"; }

  QString WritePackage(const std::string& name, const writer::PackageSpec& spec) {
    test::WriteFile(files_.path() / name, writer::BuildPackage(spec));
    return QString::fromStdString((files_.path() / name).string());
  }

  void Start() {
    driver_ = std::make_unique<test::ReaderDriver>(home_.path());
    ASSERT_TRUE(driver_->WaitUntilReady());
  }

  // Presses "開啟電子保單" for `path` and runs `whileHeld` once the opening
  // waits on `service`. The opening keeps the window's events going in a
  // loop of its own, so the check runs from a timer inside it: a wait here
  // would only return once the opening had ended.
  void OpenWhileHeld(const QString& path, HeldChainService& service, const std::function<void()>& whileHeld) {
    driver_->window->SetFileChoosers([path] { return path; }, [](const QString&) { return QString(); });
    bool ran = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (ran || service.Requests() == 0) return;
      ran = true;
      whileHeld();
    });
    poll.start();
    const int calls = driver_->finishedCalls;
    driver_->Eval(QStringLiteral("openTpk(); true"));
    EXPECT_TRUE(test::WaitFor([&] { return driver_->finishedCalls > calls; }, 30000));
    EXPECT_TRUE(ran) << "the opening never asked the chain service";
  }

  test::TempDir home_;
  test::TempDir files_;
  test::ModalAnswers answers_;
  std::unique_ptr<test::ReaderDriver> driver_;
};

TEST_F(NativeWindowTest, SlowChainServiceLeavesThePageLiveAndTheBoxesInOrder) {
  HeldChainService service;
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.versionInfo.certChainUrl = service.Url();
  // A newer reader is required: once the chain has come, the update question
  // comes, then the prompt.
  spec.versionInfo.win.version = "9.9.9.9";
  spec.versionInfo.win.update = "http://127.0.0.1:1/update";
  const QString path = WritePackage("slow.tpk", spec);
  Start();
  answers_.Push([](QWidget* box) {
    auto* question = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->windowTitle(), QStringLiteral("更新資訊"));
    question->buttons().last()->click();  // 取消: no download
  });
  answers_.Password(QString::fromLatin1(kPassword));
  OpenWhileHeld(path, service, [&] {
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no box while the service holds the chain";
    // While the service holds its answer, the page answers at once and shows
    // its busy mask.
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(driver_->Eval(QStringLiteral("6 * 7")).toInt(), 42);
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(driver_->Style("mask", "display"), "");
    EXPECT_EQ(driver_->Shown("status"), "");
    service.Release();
  });
  ASSERT_TRUE(test::WaitFor([&] { return driver_->Style("mask", "display") == "none"; }));
  EXPECT_TRUE(answers_.Done()) << "the question and the prompt came, in order";
  EXPECT_TRUE(driver_->Shown("status").startsWith(QStringLiteral("本保單已通過")));
  EXPECT_EQ(driver_->window->Policy().s3CertResult, 0);
  EXPECT_EQ(driver_->recent.Slot(0), path);
}

TEST_F(NativeWindowTest, ClosingDuringAnOpeningEndsItAtOnceAndWritesNothingAfter) {
  HeldChainService service;
  writer::PackageSpec spec = test::SharedPackageSpec();
  spec.versionInfo.certChainUrl = service.Url();
  const QString path = WritePackage("held.tpk", spec);
  Start();
  answers_.Password(QString::fromLatin1(kPassword));
  std::map<std::string, std::filesystem::file_time_type> before;
  QElapsedTimer clock;
  OpenWhileHeld(path, service, [&] {
    before = Listing(Work());
    clock.start();
    driver_->window->close();
  });
  EXPECT_LT(clock.elapsed(), 1000) << "the opening's call ends within a second of the close";
  EXPECT_TRUE(OpeningAbandoned());

  // The service answers late; the worker ends without storing the chain.
  service.Release();
  QTest::qWait(1500);
  EXPECT_EQ(Listing(Work()), before);
  EXPECT_FALSE(std::filesystem::exists(Work() / "caChain")) << "no chain kept for a closed window";
  EXPECT_EQ(driver_->recent.Slot(0), "") << "a dropped opening leaves the recent list alone";
}

TEST_F(NativeWindowTest, DroppedFilesOpenAsIfChosen) {
  test::StoreSealedChain(Work());
  const QString package = WritePackage("dropped.tpk", test::SharedPackageSpec());
  const std::filesystem::path text = files_.path() / "notes.txt";
  test::WriteFile(text, std::string("not a policy"));
  Start();
  QWidget* target = driver_->window->findChild<QWebEngineView*>()->focusProxy();
  ASSERT_NE(target, nullptr);

  const auto drop = [&](const QString& file) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
    return enter.isAccepted() && dropped.isAccepted();
  };

  EXPECT_FALSE(drop(QString::fromStdString(text.string()))) << "anything else is refused";
  QTest::qWait(300);
  EXPECT_TRUE(driver_->window->PolicyPath().isEmpty());

  answers_.Password(QString::fromLatin1(kPassword));
  const int calls = driver_->finishedCalls;
  EXPECT_TRUE(drop(package));
  ASSERT_TRUE(test::WaitFor([&] {
    return driver_->finishedCalls > calls && driver_->Style("mask", "display") == "none";
  }));
  EXPECT_EQ(driver_->window->PolicyPath(), package);
  EXPECT_TRUE(driver_->Shown("status").startsWith(QStringLiteral("本保單已通過")));
  EXPECT_EQ(driver_->recent.Slot(0), package);
}

// The window on a screen of a given size, in a child process started by the
// test below on an offscreen screen of that size: it fits the available area
// with the whole status line of a failed opening in view, and the preview and
// the tree grow when the window does.
TEST(ScreenFit, Child) {
  if (qEnvironmentVariableIsEmpty("QALV_SCREEN_CHILD")) GTEST_SKIP() << "run by WindowFitsSmallAndLargeScreens";
  trace::SetLogSink({});
  test::TempDir home;
  test::TempDir files;
  const std::filesystem::path damaged = files.path() / "damaged.tpk";
  test::WriteFile(damaged, writer::Bytes{0x30, 0x00});
  test::ReaderDriver driver(home.path(), QString::fromStdString(damaged.string()));
  ASSERT_TRUE(driver.WaitUntilReady());
  ASSERT_TRUE(driver.Shown("status").startsWith(QStringLiteral("本保單驗證有誤，")));
  const QRect available = driver.window->screen()->availableGeometry();
  EXPECT_EQ(available.size(), QSize(qEnvironmentVariableIntValue("QALV_SCREEN_WIDTH"),
                                    qEnvironmentVariableIntValue("QALV_SCREEN_HEIGHT")));
  EXPECT_TRUE(available.contains(driver.window->frameGeometry()))
      << driver.window->frameGeometry().width() << "x" << driver.window->frameGeometry().height();

  const auto whollyInView = [&] {
    return driver
        .Eval(QStringLiteral("(() => { const r = document.getElementById('status').getBoundingClientRect();"
                             " return r.top >= 0 && r.left >= 0 && r.bottom <= innerHeight && r.right <= innerWidth"
                             " && document.documentElement.scrollWidth <= innerWidth; })()"))
        .toBool();
  };
  const auto heights = [&] {
    return driver.Eval(QStringLiteral("['previewArea', 'verifyScroll'].map(id =>"
                                      " document.getElementById(id).getBoundingClientRect().height)"))
        .toList();
  };
  EXPECT_TRUE(whollyInView());
  const QVariantList before = heights();
  driver.window->resize(driver.window->minimumSize());
  ASSERT_TRUE(test::WaitFor([&] { return heights() != before; }, 5000));
  EXPECT_TRUE(whollyInView()) << "at the smallest size too";
  const QVariantList smallest = heights();
  const char* const blocks[] = {"previewArea", "verifyScroll"};
  for (qsizetype block = 0; block < smallest.size(); ++block) {
    EXPECT_LT(smallest[block].toDouble(), before[block].toDouble()) << blocks[block] << " follows the window";
  }
}

TEST(ScreenFit, WindowFitsSmallAndLargeScreens) {
  for (const QSize screen : {QSize(1366, 768), QSize(1024, 600)}) {
    SCOPED_TRACE(screen.width());
    test::TempDir dir;
    const std::filesystem::path config = dir.path() / "screens.json";
    test::WriteFile(config, QStringLiteral("{\"screens\": [{\"name\": \"s\", \"x\": 0, \"y\": 0, \"width\": %1,"
                                           " \"height\": %2, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                                .arg(screen.width())
                                .arg(screen.height())
                                .toStdString());
    const test::CommandResult child = test::Run(
        "QT_QPA_PLATFORM=offscreen:configfile=" + test::ShellQuote(config.string()) + " QALV_SCREEN_CHILD=1" +
        " QALV_SCREEN_WIDTH=" + std::to_string(screen.width()) + " QALV_SCREEN_HEIGHT=" +
        std::to_string(screen.height()) + " " + std::filesystem::read_symlink("/proc/self/exe").string() +
        " --gtest_filter=ScreenFit.Child 2>&1");
    EXPECT_EQ(child.exitCode, 0) << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
  }
}

// What a screen reader says for every dialog, button and field: a name and a
// description, for each of the reader's own windows.
TEST(Accessibility, EveryDialogButtonAndFieldIsNamedAndDescribed) {
  test::TempDir home;
  test::ReaderDriver reader(home.path());
  Password prompt;
  CAboutDlg about;
  CUPDialog progress;
  for (QWidget* dialog : std::initializer_list<QWidget*>{reader.window.get(), &prompt, &about, &progress}) {
    QList<QWidget*> spoken{dialog};
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
      if (qobject_cast<QAbstractButton*>(child) || qobject_cast<QLineEdit*>(child) ||
          qobject_cast<QProgressBar*>(child) || qobject_cast<QWebEngineView*>(child)) {
        spoken << child;
      }
    }
    for (QWidget* widget : spoken) {
      SCOPED_TRACE(std::string(dialog->metaObject()->className()) + " " + widget->metaObject()->className() + " " +
                   widget->objectName().toStdString());
      QAccessibleInterface* spokenAs = QAccessible::queryAccessibleInterface(widget);
      ASSERT_NE(spokenAs, nullptr);
      EXPECT_FALSE(spokenAs->text(QAccessible::Name).isEmpty());
      EXPECT_FALSE(spokenAs->text(QAccessible::Description).isEmpty());
    }
  }
}

TEST(QtTexts, DialogsAndButtonsAreChinese) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("問"), QStringLiteral("文"),
                  QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
  QStringList boxButtons;
  for (QAbstractButton* button : box.buttons()) boxButtons << button->text();
  boxButtons.sort();
  EXPECT_EQ(boxButtons.join(u','), QStringLiteral("取消,否(&N),是(&Y),確定")) << boxButtons.join(u',').toStdString();

  for (const auto mode : {QFileDialog::AcceptOpen, QFileDialog::AcceptSave}) {
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    const auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    for (QAbstractButton* button : buttons->buttons()) {
      const QString text = button->text();
      EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2,}"))))
          << "an English button: " << text.toStdString();
    }
    const auto* look = dialog.findChild<QWidget*>(QStringLiteral("lookInLabel"));
    ASSERT_NE(look, nullptr);
    EXPECT_FALSE(look->property("text").toString().contains(QStringLiteral("Look in")));
  }
}

// The real program, started as a file manager would with Qt's own options
// in front: it reads exactly the package named, and nothing else.
TEST(CommandLine, QtOptionsInFrontOfTheFileAreTakenOutAndExtraArgumentsIgnored) {
  test::TempDir home;
  const std::filesystem::path package = home.path() / "a policy.tpk";
  const writer::Bytes bytes = writer::BuildPackage(test::SharedPackageSpec());
  test::WriteFile(package, bytes);
  const std::filesystem::path log = home.path() / "out.log";
  const std::string reader = std::string(QALV_READER_DIR) + "/quv-reader";
  const test::CommandResult run = test::Run(
      "cd " + test::ShellQuote(home.path().string()) + " && HOME=" + test::ShellQuote(home.path().string()) + " " +
      test::ShellQuote(reader) + " -style fusion " + test::ShellQuote(package.string()) + " second.tpk > " +
      test::ShellQuote(log.string()) + " 2>/dev/null & pid=$!; for i in $(seq 300); do grep -q 'tpk_p len' " +
      test::ShellQuote(log.string()) + " && break; sleep 0.1; done; kill -9 $pid; cat " + test::ShellQuote(log.string()));
  EXPECT_NE(run.out.find("tpk_p len=" + std::to_string(bytes.size()) + "\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace qalv
