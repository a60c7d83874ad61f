// The desktop's owner of the core's boxes: message boxes with their captions,
// buttons and answers, the password prompt run until it has a password, the
// desktop opener's start results and the main window's close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "ui/password_prompt.h"
#include "ui/qt_owner_window.h"

namespace qalv {
namespace {

// Answers modal windows as they come up: each step runs once on the window
// then active; steps left over, or a window still open when they have run
// out, fail the test.
class ModalSteps {
 public:
  using Step = std::function<void(QWidget*)>;

  explicit ModalSteps(std::vector<Step> steps) : steps_(std::move(steps)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  ~ModalSteps() { EXPECT_EQ(next_, steps_.size()) << "steps not reached"; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) return;
    if (next_ == steps_.size()) {
      ADD_FAILURE() << "unexpected window " << modal->windowTitle().toStdString();
      modal->close();
      return;
    }
    steps_[next_++](modal);
  }

  std::vector<Step> steps_;
  size_t next_ = 0;
  QTimer timer_;
};

QStringList ButtonTexts(QMessageBox* box) {
  QStringList texts;
  for (QAbstractButton* button : box->buttons()) texts << button->text();
  texts.sort();
  return texts;
}

QPushButton* ButtonWithText(QMessageBox* box, const QString& text) {
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == text) return qobject_cast<QPushButton*>(button);
  }
  return nullptr;
}

using Answer = OwnerWindow::Answer;
using Buttons = OwnerWindow::Buttons;
using Icon = OwnerWindow::Icon;

TEST(QtOwnerWindow, MessageBoxesShowTheirWordsAndReturnTheButtonPressed) {
  struct Row {
    const char* name;
    Icon icon;
    QMessageBox::Icon boxIcon;
    Buttons buttons;
    bool owned;
    std::function<void(QMessageBox*)> press;
    Answer answer;
  };
  const auto click = [](const char* text) {
    return [text](QMessageBox* box) {
      QPushButton* button = ButtonWithText(box, QString::fromUtf8(text));
      ASSERT_NE(button, nullptr) << text;
      button->click();
    };
  };
  const auto key = [](Qt::Key k) { return [k](QMessageBox* box) { QTest::keyClick(box, k); }; };
  const auto closeBox = [](QMessageBox* box) { box->close(); };
  const std::vector<Row> rows = {
      {"OK", Icon::kInformation, QMessageBox::Information, Buttons::kOk, true, click("確定"),
       Answer::kOk},
      {"Esc on one button", Icon::kError, QMessageBox::Critical, Buttons::kOk, true,
       key(Qt::Key_Escape), Answer::kOk},
      {"close box on one button", Icon::kNone, QMessageBox::NoIcon, Buttons::kOk, false, closeBox,
       Answer::kOk},
      {"OK of two", Icon::kQuestion, QMessageBox::Question, Buttons::kOkCancel, true, click("確定"),
       Answer::kOk},
      {"Enter takes OK", Icon::kQuestion, QMessageBox::Question, Buttons::kOkCancel, true,
       key(Qt::Key_Return), Answer::kOk},
      {"Cancel", Icon::kWarning, QMessageBox::Warning, Buttons::kOkCancel, true, click("取消"),
       Answer::kCancel},
      {"Esc on two buttons", Icon::kQuestion, QMessageBox::Question, Buttons::kOkCancel, false,
       key(Qt::Key_Escape), Answer::kCancel},
      {"close box on two buttons", Icon::kInformation, QMessageBox::Information, Buttons::kOkCancel,
       true, closeBox, Answer::kCancel},
  };
  QWidget owner;
  QtOwnerWindow window(&owner, nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string caption = std::string("更新資訊 ") + row.name;
    const std::string text = "偵測到新版本，是否更新？\n<b>第二行</b>";
    ModalSteps steps({[&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle().toStdString(), caption);
      EXPECT_EQ(box->text().toStdString(), text);
      EXPECT_EQ(box->textFormat(), Qt::PlainText);
      EXPECT_EQ(box->icon(), row.boxIcon);
      EXPECT_EQ(box->parentWidget(), row.owned ? &owner : nullptr);
      const QStringList expected =
          row.buttons == Buttons::kOk ? QStringList{QStringLiteral("確定")}
                                      : QStringList{QStringLiteral("取消"), QStringLiteral("確定")};
      EXPECT_EQ(ButtonTexts(box), expected);
      EXPECT_EQ(box->defaultButton(), ButtonWithText(box, QStringLiteral("確定")));
      row.press(box);
    }});
    EXPECT_EQ(window.ShowMessage({caption, text, row.icon, row.buttons, row.owned}), row.answer);
  }
}

TEST(QtOwnerWindow, BoxesOfAClosedOwnerHaveNoOwner) {
  auto owner = std::make_unique<QWidget>();
  QtOwnerWindow window(owner.get(), nullptr);
  owner.reset();
  ModalSteps steps({[](QWidget* modal) {
    EXPECT_EQ(modal->parentWidget(), nullptr);
    modal->close();
  }});
  EXPECT_EQ(window.ShowMessage({"錯誤", "text"}), Answer::kOk);
}

QLineEdit* FieldOf(QWidget* prompt) { return prompt->findChild<QLineEdit*>("1003"); }

TEST(QtOwnerWindow, AskPasswordReturnsTheTypedTextAsUtf8) {
  QWidget owner;
  QtOwnerWindow window(&owner, nullptr);
  ModalSteps steps({[&](QWidget* modal) {
    auto* prompt = qobject_cast<Password*>(modal);
    ASSERT_NE(prompt, nullptr);
    EXPECT_EQ(prompt->parentWidget(), &owner);
    EXPECT_EQ(prompt->m_hintUrl, QStringLiteral("http://ca.example/acquvSrv/caChain"));
    EXPECT_EQ(prompt->m_batchId, QStringLiteral("批次-01"));
    FieldOf(prompt)->insert(QStringLiteral("密碼"));  // as an input method commits it
    QTest::keyClicks(FieldOf(prompt), QStringLiteral(" Pw1"));
    QTest::keyClick(FieldOf(prompt), Qt::Key_Return);
  }});
  std::string password;
  EXPECT_EQ(window.AskPassword("http://ca.example/acquvSrv/caChain", "批次-01", password),
            Answer::kOk);
  EXPECT_EQ(password, "\xE5\xAF\x86\xE7\xA2\xBC Pw1");
}

TEST(QtOwnerWindow, AskPasswordCancelledLeavesThePasswordAlone) {
  QtOwnerWindow window(nullptr, nullptr);
  ModalSteps steps({[](QWidget* prompt) {
    QTest::keyClicks(FieldOf(prompt), QStringLiteral("typed"));
    QTest::keyClick(FieldOf(prompt), Qt::Key_Escape);
  }});
  std::string password = "before";
  EXPECT_EQ(window.AskPassword("", "", password), Answer::kCancel);
  EXPECT_EQ(password, "before");
}

TEST(QtOwnerWindow, AskPasswordShowsThePromptAgainWhileItEndsOkWithoutAPassword) {
  QtOwnerWindow window(nullptr, nullptr);
  const Password* first = nullptr;
  ModalSteps steps({
      [&](QWidget* modal) {
        first = qobject_cast<Password*>(modal);
        qobject_cast<QDialog*>(modal)->accept();  // OK forced past the empty check
      },
      [&](QWidget* modal) {
        EXPECT_EQ(modal, first);  // the same prompt, shown again
        EXPECT_TRUE(FieldOf(modal)->text().isEmpty());
        QTest::keyClicks(FieldOf(modal), QStringLiteral("second"));
        modal->findChild<QPushButton*>("1")->click();
      },
  });
  std::string password;
  EXPECT_EQ(window.AskPassword("", "", password), Answer::kOk);
  EXPECT_EQ(password, "second");
}

// Stands in for the desktop's opener of local files.
class FileOpener : public QObject {
  Q_OBJECT
 public:
  std::vector<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened.push_back(url); }
};

TEST(QtOwnerWindow, OpenWithDesktopAnswersInTheShellsManner) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "保單 1.pdf";
  test::WriteFile(file, std::string("%PDF-1.4"));
  QtOwnerWindow window(nullptr, nullptr);

  FileOpener opener;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "Open");
  EXPECT_EQ(window.OpenWithDesktop(dir / "missing.pdf"), 2);
  EXPECT_TRUE(opener.opened.empty());
  EXPECT_EQ(window.OpenWithDesktop(file), 33);
  ASSERT_EQ(opener.opened.size(), 1u);
  EXPECT_EQ(opener.opened[0].toLocalFile().toStdU16String(), file.u16string());
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

  // The offscreen platform opens nothing, as a desktop without a program for
  // the file would.
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) GTEST_SKIP();
  EXPECT_EQ(window.OpenWithDesktop(file), 31);
}

TEST(QtOwnerWindow, CloseMainWindowRunsTheCallback) {
  int closes = 0;
  QtOwnerWindow window(nullptr, [&closes] { ++closes; });
  window.CloseMainWindow();
  EXPECT_EQ(closes, 1);
  QtOwnerWindow withoutCallback(nullptr, nullptr);
  withoutCallback.CloseMainWindow();
}

}  // namespace
}  // namespace qalv

#include "test_qt_owner_window.moc"
