#include "ui/qt_owner_window.h"

#include <QByteArray>
#include <QDesktopServices>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QUrl>
#include <system_error>
#include <utility>

#include "ui/password_prompt.h"
#include "ui/wiped_text.h"

namespace qalv {
namespace {

// Start results in the shell's manner.
constexpr int32_t kStarted = 33;
constexpr int32_t kFileNotFound = 2;
constexpr int32_t kNoAssociation = 31;

QMessageBox::Icon BoxIcon(OwnerWindow::Icon icon) {
  switch (icon) {
    case OwnerWindow::Icon::kInformation:
      return QMessageBox::Information;
    case OwnerWindow::Icon::kWarning:
      return QMessageBox::Warning;
    case OwnerWindow::Icon::kError:
      return QMessageBox::Critical;
    case OwnerWindow::Icon::kQuestion:
      return QMessageBox::Question;
    case OwnerWindow::Icon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

QtOwnerWindow::QtOwnerWindow(QWidget* owner, std::function<void()> closeMainWindow)
    : owner_(owner), closeMainWindow_(std::move(closeMainWindow)) {}

OwnerWindow::Answer QtOwnerWindow::ShowMessage(const Message& message) {
  QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.caption),
                  QString::fromStdString(message.text), QMessageBox::NoButton,
                  message.owned ? owner_.data() : nullptr);
  // The core's texts are plain; one that quotes a server could look like markup.
  box.setTextFormat(Qt::PlainText);
  QPushButton* ok = box.addButton(QStringLiteral("確定"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  if (message.buttons == Buttons::kOkCancel) {
    box.setEscapeButton(box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole));
  } else {
    box.setEscapeButton(ok);
  }
  box.exec();
  if (message.buttons == Buttons::kOk) return Answer::kOk;
  return box.clickedButton() == ok ? Answer::kOk : Answer::kCancel;
}

OwnerWindow::Answer QtOwnerWindow::AskPassword(const std::string& hintUrl,
                                               const std::string& batchNumber,
                                               std::string& password) {
  Password prompt(owner_.data());
  prompt.m_hintUrl = QString::fromStdString(hintUrl);
  prompt.m_batchId = QString::fromStdString(batchNumber);
  int result = QDialog::Rejected;
  do {
    result = prompt.exec();
  } while (result == QDialog::Accepted && prompt.m_password.isEmpty());
  if (result != QDialog::Accepted) return Answer::kCancel;
  QByteArray utf8 = prompt.m_password.toUtf8();
  password.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
  WipeBytes(utf8);
  // The prompt wipes its own copies as it goes.
  return Answer::kOk;
}

int32_t QtOwnerWindow::OpenWithDesktop(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::exists(file, error)) return kFileNotFound;
  const QUrl address = QUrl::fromLocalFile(QString::fromStdU16String(file.u16string()));
  return QDesktopServices::openUrl(address) ? kStarted : kNoAssociation;
}

void QtOwnerWindow::CloseMainWindow() {
  if (closeMainWindow_) closeMainWindow_();
}

}  // namespace qalv
