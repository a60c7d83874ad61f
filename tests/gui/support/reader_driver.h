// Drives the real main window as a person would: through the page's own
// functions (which call the bridge), answering the dialogs they open, and
// reading the page back.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVariant>
#include <QWebEnginePage>
#include <functional>
#include <memory>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "tests/gui/support/qt_print.h"
#include "tests/support/test_support.h"
#include "ui/reader_window.h"
#include "ui/shell/recent_file_list.h"

namespace qalv::test {

// Runs `until` through the event loop until it holds or `timeoutMs` passes.
inline bool WaitFor(const std::function<bool()>& until, int timeoutMs = 20000) {
  QElapsedTimer clock;
  clock.start();
  while (!until()) {
    if (clock.elapsed() > timeoutMs) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// `text` as a script string literal.
inline QString JsString(const QString& text) {
  const QByteArray list = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
  return QString::fromUtf8(list.mid(1, list.size() - 2));
}

// Answers modal dialogs as they come up, in order.
class ModalAnswers {
 public:
  using Answer = std::function<void(QWidget*)>;

  ModalAnswers() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }

  void Push(Answer answer) { answers_.push_back(std::move(answer)); }

  // The password prompt: type `password` and press OK, or Cancel when empty.
  void Password(std::optional<QString> password) {
    Push([password](QWidget* dialog) {
      if (!password) {
        dialog->findChild<QPushButton*>(QStringLiteral("2"))->click();
        return;
      }
      dialog->findChild<QLineEdit*>(QStringLiteral("1003"))->setText(*password);
      dialog->findChild<QPushButton*>(QStringLiteral("1"))->click();
    });
  }

  // A message box: record its caption and text, then press its first button.
  void Message() {
    Push([this](QWidget* dialog) {
      auto* box = qobject_cast<QMessageBox*>(dialog);
      ASSERT_NE(box, nullptr) << "expected a message box, got " << dialog->metaObject()->className();
      messages.push_back(box->windowTitle() + u'|' + box->text());
      box->buttons().first()->click();
    });
  }

  bool Done() const { return answers_.empty(); }

  std::vector<QString> messages;

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || answers_.empty() || !modal->isVisible()) return;
    // A new dialog may reuse a closed one's address: mark the answered ones.
    if (modal->inherits("qalv::CQUVPCReaderDlg") || modal->property("answered").toBool()) return;
    modal->setProperty("answered", true);
    Answer answer = std::move(answers_.front());
    answers_.erase(answers_.begin());
    answer(modal);
  }

  QTimer timer_;
  std::vector<Answer> answers_;
};

class ReaderDriver {
 public:
  // Starts the window with HOME at `home` and waits until the page has run
  // its load handler.
  ReaderDriver(const std::filesystem::path& home, const QString& commandLine = {}) {
    qputenv("HOME", QByteArray::fromStdString(home.string()));
    window = std::make_unique<CQUVPCReaderDlg>(recent, commandLine);
    QObject::connect(&window->Bridge(), &ScriptBridge::CallFinished, [this](int) { ++finishedCalls; });
    window->show();
  }

  // Waits for the page's init to finish (its busy mask hidden again).
  bool WaitUntilReady() {
    return WaitFor([this] {
      return finishedCalls > 0 && Style(QStringLiteral("mask"), QStringLiteral("display")) == u"none";
    });
  }

  QVariant Eval(const QString& script) {
    std::optional<QVariant> result;
    window->Page()->runJavaScript(script, [&result](const QVariant& value) { result = value; });
    WaitFor([&result] { return result.has_value(); });
    return result.value_or(QVariant());
  }

  // Calls a page function that returns a Promise and waits until it settles.
  bool CallPage(const QString& call, int timeoutMs = 30000) {
    Eval(QStringLiteral("window.__settled = false; Promise.resolve(%1).finally(() => { window.__settled = true; });")
             .arg(call));
    return WaitFor([this] { return Eval(QStringLiteral("window.__settled")).toBool(); }, timeoutMs);
  }

  // Presses "QALV線上驗證" and waits until the page has taken the answer.
  bool PressOnlineVerify() {
    const int calls = finishedCalls;
    return CallPage(QStringLiteral("onlineVerify()")) && WaitFor([&] {
             return finishedCalls > calls && Style(QStringLiteral("mask"), QStringLiteral("display")) == u"none";
           });
  }

  QString Text(const QString& script) { return Eval(script).toString(); }
  QString Html(const QString& id) {
    return Text(QStringLiteral("document.getElementById('%1').innerHTML").arg(id));
  }
  // The element's text as the page shows it, whatever parts it is made of.
  QString Shown(const QString& id) {
    return Text(QStringLiteral("document.getElementById('%1').textContent").arg(id));
  }
  // A bridge property as the page gets it: read, then awaited.
  QString Property(const QString& name) {
    CallPage(QStringLiteral("window.external.%1.then(v => { window.__property = v; })").arg(name));
    return Text(QStringLiteral("window.__property"));
  }
  QString Style(const QString& id, const QString& property) {
    return Text(QStringLiteral("document.getElementById('%1').style['%2']").arg(id, property));
  }
  QString Attribute(const QString& id, const QString& name) {
    return Text(QStringLiteral("document.getElementById('%1').getAttribute('%2') || ''").arg(id, name));
  }

  RecentFileList recent;
  int finishedCalls = 0;
  std::unique_ptr<CQUVPCReaderDlg> window;
};

}  // namespace qalv::test
