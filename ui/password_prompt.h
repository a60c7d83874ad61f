// The password prompt of an opening: the document password, and a button that
// asks the hint service for the batch's password rules, shown as HTML below.
// The prompt only returns the password; a wrong one shows in the decryption.
#pragma once

#include <QCheckBox>
#include <QColor>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <optional>

#include "ui/web_browser2.h"

class QEvent;
class QShowEvent;

namespace qalv {

// The decryption holds the password's UTF-8 form in an area this long; the
// field takes no more.
inline constexpr qsizetype kMaxPasswordBytes = 50;

// Six upper-case hexadecimal digits, red, green, blue: (0, 0, 128) is "000080".
[[nodiscard]] QString HexColor(const QColor& color);

// What one typed key tells of Caps Lock: on when a letter's case disagrees
// with Shift; nothing for keys without a cased letter.
[[nodiscard]] std::optional<bool> CapsLockFromKey(const QString& text,
                                                  Qt::KeyboardModifiers modifiers);

class Password : public QDialog {
  Q_OBJECT
 public:
  explicit Password(QWidget* parent = nullptr);
  // Wipes the password from the field and from m_password.
  ~Password() override;

  QString m_password;
  QString m_hintUrl;  // only its scheme, host and port reach the hint service
  QString m_batchId;
  CWebBrowser2 m_browser;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnOk();
  void OnHint();

  QLineEdit field_;
  QPushButton ok_;
  QPushButton cancel_;
  QPushButton hint_;
  QCheckBox showPassword_;
  QLabel capsLockWarning_;
  std::optional<bool> capsLock_;  // unknown until a letter is typed
};

}  // namespace qalv
