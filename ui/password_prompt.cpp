#include "ui/password_prompt.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QRect>
#include <QShowEvent>
#include <QStringView>
#include <QValidator>
#include <string>

#include "net/password_hint.h"
#include "ui/qt_owner_window.h"
#include "ui/shell/dialog_units.h"
#include "ui/wiped_text.h"

namespace qalv {
namespace {

// Keeps the field's UTF-8 form within kMaxPasswordBytes. Whatever is inserted
// ends at the cursor, so the excess is dropped from there backwards, whole
// characters at a time: a paste is cut short, a key past the limit does nothing,
// and what was already typed stays.
class Utf8LimitValidator : public QValidator {
 public:
  using QValidator::QValidator;

  State validate(QString& input, int& pos) const override {
    qsizetype excess = input.toUtf8().size() - kMaxPasswordBytes;
    qsizetype cut = pos;
    while (excess > 0 && cut > 0) {
      const qsizetype width =
          cut >= 2 && input[cut - 1].isLowSurrogate() && input[cut - 2].isHighSurrogate() ? 2 : 1;
      excess -= QStringView(input).sliced(cut - width, width).toUtf8().size();
      cut -= width;
    }
    if (excess > 0) return Invalid;
    input.remove(cut, pos - cut);
    pos = static_cast<int>(cut);
    return Acceptable;
  }
};

}  // namespace

QString HexColor(const QColor& color) {
  return QStringLiteral("%1%2%3")
      .arg(color.red(), 2, 16, QLatin1Char('0'))
      .arg(color.green(), 2, 16, QLatin1Char('0'))
      .arg(color.blue(), 2, 16, QLatin1Char('0'))
      .toUpper();
}

std::optional<bool> CapsLockFromKey(const QString& text, Qt::KeyboardModifiers modifiers) {
  if (text.size() != 1) return std::nullopt;
  const QChar letter = text.front();
  if (letter.toUpper() == letter.toLower()) return std::nullopt;
  return letter.isUpper() != modifiers.testFlag(Qt::ShiftModifier);
}

Password::Password(QWidget* parent)
    : QDialog(parent),
      m_browser(this),
      field_(this),
      ok_(QStringLiteral("確定"), this),
      cancel_(QStringLiteral("取消"), this),
      hint_(QStringLiteral("密碼提示"), this),
      showPassword_(QStringLiteral("顯示密碼"), this),
      capsLockWarning_(QStringLiteral("大寫鎖定已開啟"), this) {
  setWindowTitle(QStringLiteral("請輸入文件保護密碼"));
  const DialogUnits units(fontMetrics());
  // One row below the hint pane holds the show-password toggle and the Caps
  // Lock warning.
  setFixedSize(units.Size(181, 124));

  field_.setObjectName(QStringLiteral("1003"));
  field_.setGeometry(units.Rect(7, 11, 167, 14));
  field_.setEchoMode(QLineEdit::Password);
  field_.setValidator(new Utf8LimitValidator(&field_));
  field_.installEventFilter(this);

  ok_.setObjectName(QStringLiteral("1"));
  ok_.setGeometry(units.Rect(65, 32, 50, 14));
  ok_.setDefault(true);
  cancel_.setObjectName(QStringLiteral("2"));
  cancel_.setGeometry(units.Rect(124, 32, 50, 14));
  hint_.setObjectName(QStringLiteral("1010"));
  hint_.setGeometry(units.Rect(7, 32, 50, 14));
  m_browser.setObjectName(QStringLiteral("1013"));
  m_browser.setGeometry(units.Rect(7, 54, 167, 49));

  showPassword_.setObjectName(QStringLiteral("showPassword"));
  showPassword_.setGeometry(units.Rect(7, 108, 70, 10));
  capsLockWarning_.setObjectName(QStringLiteral("capsLockWarning"));
  capsLockWarning_.setGeometry(units.Rect(80, 108, 94, 10));
  capsLockWarning_.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  capsLockWarning_.hide();

  setAccessibleName(windowTitle());
  setAccessibleDescription(QStringLiteral("輸入保單的文件保護密碼，以解密並驗證保單"));
  const struct {
    QWidget* widget;
    const char* name;
    const char* description;
  } spoken[] = {
      {&field_, "文件保護密碼", "保單的解密密碼，輸入的字元以圓點顯示"},
      {&ok_, "確定", "以輸入的密碼開啟保單"},
      {&cancel_, "取消", "不輸入密碼，取消開啟保單"},
      {&hint_, "密碼提示", "向保險公司查詢這份保單的密碼提示"},
      {&m_browser, "密碼提示內容", "密碼提示服務回覆的說明"},
      {&showPassword_, "顯示密碼", "以明文顯示輸入的密碼"},
      {&capsLockWarning_, "大寫鎖定已開啟", "輸入的英文字母會是大寫"},
  };
  for (const auto& item : spoken) {
    item.widget->setAccessibleName(QString::fromUtf8(item.name));
    item.widget->setAccessibleDescription(QString::fromUtf8(item.description));
  }

  connect(&ok_, &QPushButton::clicked, this, &Password::OnOk);
  connect(&cancel_, &QPushButton::clicked, this, &QDialog::reject);
  connect(&hint_, &QPushButton::clicked, this, &Password::OnHint);
  connect(&showPassword_, &QCheckBox::toggled, this, [this](bool shown) {
    field_.setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
  });

  // The pane wears the dialog's button face, so it reads as part of the dialog.
  m_browser.m_htmlPrefix =
      QStringLiteral(
          "<html><body oncontextmenu='return false' style='border-style:none; "
          "overflow:auto; font-size:15px; margin:0; padding:0; background-color:#") +
      HexColor(palette().color(QPalette::Button)) + QStringLiteral(";'>");
  m_browser.m_htmlSuffix = QStringLiteral("</body></html>");
  m_browser.Navigate(QUrl(QStringLiteral("about:blank")));
  m_browser.WriteHtml(QString());
}

Password::~Password() {
  QString typed = field_.text();
  // setText, unlike clear, also forgets the field's undo history.
  field_.setText(QString());
  WipeText(m_password);
  WipeText(typed);
}

void Password::showEvent(QShowEvent* event) {
  // Each showing starts from what was typed before.
  field_.setText(m_password);
  field_.setFocus();
  QDialog::showEvent(event);
}

bool Password::eventFilter(QObject* watched, QEvent* event) {
  if (watched == &field_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() == Qt::Key_CapsLock) {
      if (capsLock_) capsLock_ = !*capsLock_;
    } else if (const std::optional<bool> on = CapsLockFromKey(key->text(), key->modifiers())) {
      capsLock_ = on;
    }
    capsLockWarning_.setVisible(capsLock_.value_or(false));
  }
  return QDialog::eventFilter(watched, event);
}

void Password::OnOk() {
  m_password = field_.text();
  if (!m_password.isEmpty()) accept();
}

void Password::OnHint() {
  m_password = field_.text();
  QtOwnerWindow boxes(this, nullptr);
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string hint =
      QueryPasswordHint(m_hintUrl.toStdString(), m_batchId.toStdString(), &boxes);
  QGuiApplication::restoreOverrideCursor();
  m_browser.WriteHtml(QString::fromStdString(hint));
}

}  // namespace qalv
