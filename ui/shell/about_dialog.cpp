#include "ui/shell/about_dialog.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRect>

#include "ui/shell/dialog_units.h"
#include "ui/shell/reader_version.h"
#include "ui/shell/registration.h"

namespace qalv {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("關於 QALV 電子保單瀏覽器"));
  const QString boxFont = QStringLiteral("新細明體");
  if (QFontDatabase::hasFamily(boxFont)) setFont(QFont(boxFont, 9));

  const DialogUnits units(fontMetrics());

  auto* icon = new QLabel(this);
  const QRect iconCorner = units.Rect(14, 14, 0, 0);
  icon->setGeometry(iconCorner.x(), iconCorner.y(), 32, 32);
  icon->setPixmap(QIcon(QString::fromLatin1(kReaderIconResource)).pixmap(32, 32));

  auto* version = new QLabel(QStringLiteral("版本 ") + GetReaderVersion(), this);
  version->setObjectName(QStringLiteral("1005"));
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(units.Rect(42, 14, 114, 8));

  auto* notice = new QLabel(QStringLiteral("Copyright (C) QALV. 版權所有"), this);
  notice->setTextFormat(Qt::PlainText);
  notice->setGeometry(units.Rect(42, 26, 169, 8));

  auto* ok = new QPushButton(QStringLiteral("確定"), this);
  ok->setDefault(true);
  ok->setGeometry(units.Rect(161, 44, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  ok->setAccessibleDescription(QStringLiteral("關閉此視窗"));
  icon->setAccessibleName(QStringLiteral("QALV 電子保單瀏覽器圖示"));
  setAccessibleName(windowTitle());
  setAccessibleDescription(QStringLiteral("程式的版本與版權"));

  setFixedSize(units.Size(218, 65));
}

}  // namespace qalv
