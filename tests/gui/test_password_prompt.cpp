// The password prompt and its hint pane: what each way of closing returns,
// the hints the pane shows and what their HTML may not do, the pane's colour,
// the show-password toggle, the field's 50-byte limit and the Caps Lock warning.
#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <algorithm>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/local_server.h"
#include "tests/support/test_support.h"
#include "ui/password_prompt.h"
#include "ui/web_browser2.h"
#include "ui/wiped_text.h"

namespace qalv {
namespace {

constexpr char kHintPath[] = "/acquvSrv/hint.htm";
constexpr char kTrapPath[] = "/trap";
constexpr int kWaitMs = 10000;

// The document the view holds, as its DOM serialises.
QString DocumentOf(QWebEngineView& view) {
  std::optional<QString> html;
  view.page()->toHtml([&html](const QString& text) { html = text; });
  if (!QTest::qWaitFor([&html] { return html.has_value(); }, kWaitMs)) return QString();
  return *html;
}

// Loads are asynchronous: waits until the view's document holds `text`.
bool Shows(QWebEngineView& view, const QString& text) {
  return QTest::qWaitFor([&] { return DocumentOf(view).contains(text); }, kWaitMs);
}

std::string HintReply(const char* code, const std::string& msg, const std::string& rules) {
  Json::Value reply;
  reply["code"] = code;
  reply["msg"] = msg;
  reply["vfyhint"] = rules;
  Json::StreamWriterBuilder builder;
  builder["emitUTF8"] = true;
  return Json::writeString(builder, reply);
}

// The hint service, answering the listed replies in turn, and a trap address
// that counts every request reaching it.
class HintService {
 public:
  explicit HintService(std::vector<std::string> replies) : replies_(std::move(replies)) {
    server_.server().Post(
        kHintPath, [this](const httplib::Request& request, httplib::Response& response) {
          std::lock_guard<std::mutex> lock(mutex_);
          bodies_.push_back(request.body);
          if (replies_.empty()) return;
          response.set_content(replies_[std::min(bodies_.size(), replies_.size()) - 1],
                               "application/json");
        });
    const auto trap = [this](const httplib::Request&, httplib::Response& response) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++trapHits_;
      response.set_content("<html><body>trapped</body></html>", "text/html");
    };
    server_.server().Get(kTrapPath, trap);
    server_.server().Post(kTrapPath, trap);
    server_.Start();
  }

  // The chain service's address: the prompt keeps only its host and port.
  QString Address() const { return QString::fromStdString(server_.Url("/acquvSrv/caChain")); }
  QString Trap() const { return QString::fromStdString(server_.Url(kTrapPath)); }

  std::vector<std::string> Bodies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
  }
  int TrapHits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return trapHits_;
  }

 private:
  std::vector<std::string> replies_;
  std::mutex mutex_;
  std::vector<std::string> bodies_;
  int trapHits_ = 0;
  test::LocalServer server_;  // last: stops before the fields its handlers use
};

class PasswordPromptTest : public testing::Test {
 protected:
  PasswordPromptTest() {
    // No message box may come up; one that does is closed so the test ends.
    watchdog_.setInterval(50);
    QObject::connect(&watchdog_, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ADD_FAILURE() << "unexpected message box: " << box->text().toStdString();
        box->reject();
      }
    });
    watchdog_.start();
  }

  static QLineEdit& Field(Password& prompt) { return *prompt.findChild<QLineEdit*>("1003"); }
  static QPushButton& Button(Password& prompt, const char* id) {
    return *prompt.findChild<QPushButton*>(id);
  }
  static QLabel& CapsLockWarning(Password& prompt) {
    return *prompt.findChild<QLabel*>("capsLockWarning");
  }

  // Shows the prompt modally, runs `drive` once it is up and returns the
  // dialog's result. A prompt that `drive` leaves open fails the test.
  static int Run(Password& prompt, const std::function<void()>& drive) {
    QTimer::singleShot(0, &prompt, [&prompt, &drive] {
      drive();
      if (prompt.isVisible()) {
        ADD_FAILURE() << "the prompt is still open";
        prompt.done(-1);
      }
    });
    return prompt.exec();
  }

  QTimer watchdog_;
};

TEST_F(PasswordPromptTest, EachWayOfClosingGivesItsResultAndTheTypedText) {
  struct Row {
    const char* name;
    QString typed;
    std::function<void(Password&)> close;
    int result;
  };
  const std::vector<Row> rows = {
      {"OK with only spaces", QStringLiteral("   "),
       [](Password& p) { QTest::mouseClick(&Button(p, "1"), Qt::LeftButton); }, QDialog::Accepted},
      {"Enter in the field", QStringLiteral("p@ss W0rd"),
       [](Password& p) { QTest::keyClick(&Field(p), Qt::Key_Return); }, QDialog::Accepted},
      {"Cancel", QStringLiteral("secret"),
       [](Password& p) { QTest::mouseClick(&Button(p, "2"), Qt::LeftButton); }, QDialog::Rejected},
      {"Esc", QStringLiteral("secret"),
       [](Password& p) { QTest::keyClick(&Field(p), Qt::Key_Escape); }, QDialog::Rejected},
      {"close box", QStringLiteral("secret"), [](Password& p) { p.close(); }, QDialog::Rejected},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Password prompt;
    const int result = Run(prompt, [&] {
      QTest::keyClicks(&Field(prompt), row.typed);
      row.close(prompt);
    });
    EXPECT_EQ(result, row.result);
    if (row.result == QDialog::Accepted) {
      EXPECT_EQ(prompt.m_password, row.typed);
    }
  }
}

TEST_F(PasswordPromptTest, OkWithAnEmptyFieldKeepsThePromptOpenSilently) {
  Password prompt;
  const int result = Run(prompt, [&] {
    QTest::mouseClick(&Button(prompt, "1"), Qt::LeftButton);
    QTest::keyClick(&Field(prompt), Qt::Key_Return);
    QTest::qWait(100);
    EXPECT_TRUE(prompt.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), &prompt);  // no box over it
    QTest::keyClicks(&Field(prompt), QStringLiteral("x"));
    QTest::mouseClick(&Button(prompt, "1"), Qt::LeftButton);
  });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(prompt.m_password, QStringLiteral("x"));
}

TEST_F(PasswordPromptTest, HintButtonShowsTheLatestAnswerAndCancelStillCancels) {
  HintService service({HintReply("0", "", "第一行<br>第二行"), HintReply("E1", "查無此批次", "")});
  Password prompt;
  prompt.m_hintUrl = service.Address();
  prompt.m_batchId = QStringLiteral("批次&1");
  const int result = Run(prompt, [&] {
    QTest::keyClicks(&Field(prompt), QStringLiteral("half"));
    QTest::mouseClick(&Button(prompt, "1010"), Qt::LeftButton);
    EXPECT_EQ(prompt.m_password, QStringLiteral("half"));  // collected by the button
    EXPECT_TRUE(Shows(prompt.m_browser, QStringLiteral("密碼提示原則如下：")));
    EXPECT_TRUE(Shows(prompt.m_browser, QStringLiteral("第一行<br>第二行</div>")));

    QTest::mouseClick(&Button(prompt, "1010"), Qt::LeftButton);
    EXPECT_TRUE(Shows(prompt.m_browser, QStringLiteral("查無此批次")));
    EXPECT_FALSE(DocumentOf(prompt.m_browser).contains(QStringLiteral("第一行")));
    EXPECT_EQ(Field(prompt).text(), QStringLiteral("half"));
    QTest::mouseClick(&Button(prompt, "2"), Qt::LeftButton);
  });
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(service.Bodies(), std::vector<std::string>(2, "batchid=批次&1"));
}

TEST_F(PasswordPromptTest, HintMarkupRendersButItsScriptsStayInert) {
  const std::string rules =
      "<b>粗體</b><script>document.body.id = 'r' + 'an';</script>"
      "<img src='x' onerror=\"document.body.className = 'e' + 'rr'\">";
  const QString ran = QStringLiteral("id=\"ran\"");
  const QString erred = QStringLiteral("class=\"err\"");

  // The same markup in a pane that runs scripts does act on the document.
  CWebBrowser2 scripted;
  scripted.settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
  scripted.WriteHtml(QString::fromStdString(rules));
  EXPECT_TRUE(Shows(scripted, ran));
  EXPECT_TRUE(Shows(scripted, erred));

  HintService service({HintReply("0", "", rules)});
  Password prompt;
  prompt.m_hintUrl = service.Address();
  EXPECT_FALSE(prompt.m_browser.settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
  Run(prompt, [&] {
    QTest::mouseClick(&Button(prompt, "1010"), Qt::LeftButton);
    EXPECT_TRUE(Shows(prompt.m_browser, QStringLiteral("<b>粗體</b>")));
    QTest::qWait(500);
    const QString document = DocumentOf(prompt.m_browser);
    EXPECT_FALSE(document.contains(ran)) << document.toStdString();
    EXPECT_FALSE(document.contains(erred)) << document.toStdString();
    prompt.reject();
  });
}

TEST_F(PasswordPromptTest, HintPaneFollowsNoWayOutOfTheDocument) {
  struct Escape {
    const char* name;
    const char* html;  // %1: the trap address
    bool click;        // the view is clicked once the document shows
    bool load;         // a resource the request filter refuses and logs
  };
  const Escape escapes[] = {
      {"meta refresh", "<meta http-equiv='refresh' content='0;url=%1'>", false, false},
      {"frame", "<iframe src='%1'></iframe>", false, false},
      {"picture", "<img src='%1'>", false, true},
      {"style sheet", "<link rel='stylesheet' href='%1'>", false, true},
      {"style address", "<div style=\"background-image:url('%1')\">x</div>", false, true},
      {"link", "<a href='%1' style='display:block;height:180px'>go</a>", true, false},
      {"form",
       "<form action='%1' method='post'><input type='submit' value='go' "
       "style='width:280px;height:180px'></form>",
       true, false},
  };
  test::CapturedLog log;
  HintService service({});
  // A plain view without scripts, beside the pane, shows each way does lead out.
  QWebEngineView plain;
  plain.settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  CWebBrowser2 pane;
  for (QWebEngineView* view : {&plain, static_cast<QWebEngineView*>(&pane)}) {
    view->resize(300, 200);
    view->show();
  }
  int row = 0;
  for (const Escape& escape : escapes) {
    SCOPED_TRACE(escape.name);
    const QString marker = QStringLiteral("marker %1").arg(++row);
    const QString html = QString::fromLatin1(escape.html).arg(service.Trap()) +
                         QStringLiteral("<p>%1</p>").arg(marker);
    const auto shown = [&](QWebEngineView& view) {
      if (!Shows(view, marker)) return false;
      if (escape.click) {
        QTest::qWait(300);  // until the document is laid out
        QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(100, 60));
      }
      return true;
    };

    const int before = service.TrapHits();
    plain.setHtml(html);
    ASSERT_TRUE(shown(plain));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.TrapHits() > before; }, kWaitMs));
    const int plainHits = service.TrapHits();

    log.Clear();
    pane.WriteHtml(html);
    ASSERT_TRUE(shown(pane));
    QTest::qWait(1000);
    EXPECT_EQ(service.TrapHits(), plainHits);
    if (escape.load) {
      EXPECT_NE(log.Text().find("page: blocked request to " + service.Trap().toStdString()), std::string::npos)
          << log.Text();
    }
    EXPECT_EQ(pane.url().scheme(), QStringLiteral("data"));
    EXPECT_TRUE(DocumentOf(pane).contains(marker));
  }
}

TEST_F(PasswordPromptTest, HintTooLongToLoadStillReplacesThePreviousOne) {
  CWebBrowser2 pane;
  pane.WriteHtml(QStringLiteral("first hint"));
  ASSERT_TRUE(Shows(pane, QStringLiteral("first hint")));
  pane.WriteHtml(QString(3 * 1024 * 1024, QLatin1Char('x')));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return !DocumentOf(pane).contains(QStringLiteral("first hint")); }, kWaitMs));
}

// Wiping must never reach a copy someone else still holds.
TEST(WipeText, EmptiesTheTextAndLeavesSharedCopiesWhole) {
  QString text = QStringLiteral("secret-") + QString::number(42);
  const QString shared = text;
  WipeText(text);
  EXPECT_TRUE(text.isEmpty());
  EXPECT_EQ(shared, "secret-42");

  QByteArray bytes = shared.toUtf8();
  const QByteArray sharedBytes = bytes;
  WipeBytes(bytes);
  EXPECT_TRUE(bytes.isEmpty());
  EXPECT_EQ(sharedBytes, "secret-42");
}

TEST(HexColor, TwoUpperCaseDigitsPerComponent) {
  EXPECT_EQ(HexColor(QColor(0, 0, 128)), QStringLiteral("000080"));
  EXPECT_EQ(HexColor(QColor(1, 2, 3)), QStringLiteral("010203"));
  EXPECT_EQ(HexColor(QColor(171, 205, 239)), QStringLiteral("ABCDEF"));
  EXPECT_EQ(HexColor(QColor(255, 255, 255)), QStringLiteral("FFFFFF"));
}

TEST_F(PasswordPromptTest, PaneStartsEmptyInTheButtonFaceColour) {
  const QPalette saved = QApplication::palette();
  QPalette navy = saved;
  navy.setColor(QPalette::Button, QColor(0, 0, 128));
  QApplication::setPalette(navy);
  Password prompt;
  QApplication::setPalette(saved);

  EXPECT_EQ(prompt.m_browser.m_htmlPrefix,
            QStringLiteral("<html><body oncontextmenu='return false' style='border-style:none; "
                           "overflow:auto; font-size:15px; margin:0; padding:0; "
                           "background-color:#000080;'>"));
  EXPECT_EQ(prompt.m_browser.m_htmlSuffix, QStringLiteral("</body></html>"));
  ASSERT_TRUE(Shows(prompt.m_browser, QStringLiteral("background-color:#000080;")));
  const QString document = DocumentOf(prompt.m_browser);
  EXPECT_TRUE(document.endsWith(QStringLiteral("background-color:#000080;\"></body></html>")))
      << document.toStdString();
  EXPECT_EQ(prompt.m_browser.contextMenuPolicy(), Qt::NoContextMenu);
}

TEST_F(PasswordPromptTest, ControlsSitInTheDialogWithFocusOnTheField) {
  Password prompt;
  prompt.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&prompt));
  EXPECT_EQ(prompt.windowTitle(), QStringLiteral("請輸入文件保護密碼"));
  EXPECT_EQ(Button(prompt, "1").text(), QStringLiteral("確定"));
  EXPECT_EQ(Button(prompt, "2").text(), QStringLiteral("取消"));
  EXPECT_EQ(Button(prompt, "1010").text(), QStringLiteral("密碼提示"));
  EXPECT_TRUE(Button(prompt, "1").isDefault());
  EXPECT_EQ(Field(prompt).echoMode(), QLineEdit::Password);
  EXPECT_EQ(prompt.findChild<CWebBrowser2*>("1013"), &prompt.m_browser);
  EXPECT_EQ(QApplication::focusWidget(), &Field(prompt));

  // Hint, OK and Cancel side by side under the field, the pane below them.
  const QRect field = Field(prompt).geometry();
  const QRect hint = Button(prompt, "1010").geometry();
  const QRect ok = Button(prompt, "1").geometry();
  const QRect cancel = Button(prompt, "2").geometry();
  const QRect pane = prompt.m_browser.geometry();
  EXPECT_LT(field.bottom(), hint.top());
  EXPECT_EQ(hint.top(), ok.top());
  EXPECT_EQ(ok.top(), cancel.top());
  EXPECT_LT(hint.right(), ok.left());
  EXPECT_LT(ok.right(), cancel.left());
  EXPECT_LT(ok.bottom(), pane.top());
  for (QWidget* child : prompt.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_TRUE(prompt.rect().contains(child->geometry())) << child->objectName().toStdString();
  }

  // Tab goes round the controls and never into the pane.
  for (int i = 0; i < 8; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr);
    EXPECT_FALSE(prompt.m_browser.isAncestorOf(focused)) << "tab " << i;
  }
}

TEST_F(PasswordPromptTest, ShowPasswordTogglesTheMaskButNotTheText) {
  Password prompt;
  auto& show = *prompt.findChild<QCheckBox*>("showPassword");
  EXPECT_EQ(show.text(), QStringLiteral("顯示密碼"));
  const int result = Run(prompt, [&] {
    QTest::keyClicks(&Field(prompt), QStringLiteral("Ab 1"));
    show.click();
    EXPECT_EQ(Field(prompt).echoMode(), QLineEdit::Normal);
    EXPECT_EQ(Field(prompt).text(), QStringLiteral("Ab 1"));
    show.click();
    EXPECT_EQ(Field(prompt).echoMode(), QLineEdit::Password);
    show.click();
    QTest::keyClicks(&Field(prompt), QStringLiteral("!"));
    QTest::keyClick(&Field(prompt), Qt::Key_Return);
  });
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(prompt.m_password, QStringLiteral("Ab 1!"));
}

TEST_F(PasswordPromptTest, FieldHoldsAtMostFiftyUtf8BytesOfWholeCharacters) {
  const QString han = QStringLiteral("密");                     // 3 bytes
  const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");  // 4 bytes, two UTF-16 units
  struct Row {
    const char* name;
    QString before;
    int cursor;
    QString pasted;
    QString after;
  };
  const std::vector<Row> rows = {
      {"ASCII cut at 50", {}, 0, QString(60, u'a'), QString(50, u'a')},
      {"exactly 50 bytes",
       {},
       0,
       han.repeated(16) + QStringLiteral("ab"),
       han.repeated(16) + QStringLiteral("ab")},
      {"three-byte characters", {}, 0, han.repeated(17), han.repeated(16)},
      {"surrogate pairs stay whole", {}, 0, smile.repeated(13), smile.repeated(12)},
      {"no part of a character", QString(48, u'a'), 48, han, QString(48, u'a')},
      {"paste in the middle keeps both ends", QStringLiteral("ab"), 1, QString(60, u'x'),
       QStringLiteral("a") + QString(48, u'x') + QStringLiteral("b")},
      {"a full field takes nothing", QString(50, u'a'), 25, QStringLiteral("b"), QString(50, u'a')},
  };
  Password prompt;
  QLineEdit& field = Field(prompt);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    field.setText(row.before);
    field.setCursorPosition(row.cursor);
    QGuiApplication::clipboard()->setText(row.pasted);
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field.text(), row.after);
    EXPECT_LE(field.text().toUtf8().size(), kMaxPasswordBytes);
  }

  // Typing into a full field changes nothing; set text is cut the same way.
  field.setText(han.repeated(16) + QStringLiteral("ab"));
  QTest::keyClicks(&field, QStringLiteral("cd"));
  EXPECT_EQ(field.text(), han.repeated(16) + QStringLiteral("ab"));
  field.setText(han.repeated(20));
  EXPECT_EQ(field.text(), han.repeated(16));
}

TEST(CapsLockFromKey, LetterCaseAgainstShift) {
  struct Row {
    QString text;
    Qt::KeyboardModifiers modifiers;
    std::optional<bool> on;
  };
  const std::vector<Row> rows = {
      {QStringLiteral("A"), Qt::NoModifier, true},
      {QStringLiteral("a"), Qt::NoModifier, false},
      {QStringLiteral("A"), Qt::ShiftModifier, false},
      {QStringLiteral("a"), Qt::ShiftModifier, true},
      {QStringLiteral("É"), Qt::NoModifier, true},
      {QStringLiteral("ω"), Qt::ShiftModifier, true},
      {QStringLiteral("a"), Qt::ShiftModifier | Qt::AltModifier, true},
      {QStringLiteral("1"), Qt::NoModifier, std::nullopt},
      {QStringLiteral("!"), Qt::ShiftModifier, std::nullopt},
      {QStringLiteral("密"), Qt::NoModifier, std::nullopt},
      {QStringLiteral("ß"), Qt::NoModifier, std::nullopt},  // no upper-case form of its own
      {QString(), Qt::NoModifier, std::nullopt},
      {QStringLiteral("ab"), Qt::NoModifier, std::nullopt},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CapsLockFromKey(row.text, row.modifiers), row.on)
        << row.text.toStdString() << " " << row.modifiers.toInt();
  }
}

TEST_F(PasswordPromptTest, CapsLockWarningFollowsTheTypedLetters) {
  Password prompt;
  prompt.show();
  QLineEdit& field = Field(prompt);
  QLabel& warning = CapsLockWarning(prompt);
  struct Step {
    const char* name;
    std::function<void()> key;
    bool shown;
  };
  const std::vector<Step> steps = {
      {"digit says nothing", [&] { QTest::keyClick(&field, '1'); }, false},
      {"upper case without Shift", [&] { QTest::keyClick(&field, 'A'); }, true},
      {"digit keeps it", [&] { QTest::keyClick(&field, '2'); }, true},
      {"Caps Lock pressed", [&] { QTest::keyClick(&field, Qt::Key_CapsLock); }, false},
      {"lower case with Shift", [&] { QTest::keyClick(&field, 'b', Qt::ShiftModifier); }, true},
      {"upper case with Shift", [&] { QTest::keyClick(&field, 'C', Qt::ShiftModifier); }, false},
      {"lower case without Shift", [&] { QTest::keyClick(&field, 'd'); }, false},
  };
  for (const Step& step : steps) {
    step.key();
    EXPECT_EQ(warning.isVisible(), step.shown) << step.name;
  }
  EXPECT_EQ(warning.text(), QStringLiteral("大寫鎖定已開啟"));
  EXPECT_EQ(field.text(), QStringLiteral("1A2bCd"));
}

}  // namespace
}  // namespace qalv
