#include "app/about_dialog.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRect>

#include "app/reader_version.h"
#include "app/registration.h"

namespace qalv {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QStringLiteral("關於 QALV 電子保單瀏覽器"));
  const QString boxFont = QStringLiteral("新細明體");
  if (QFontDatabase::hasFamily(boxFont)) setFont(QFont(boxFont, 9));

  // The layout is kept in dialog units, which scale with the box's font.
  const QFontMetrics metrics(font());
  const auto place = [&metrics](int x, int y, int width, int height) {
    const auto across = [&metrics](int units) { return qRound(units * metrics.averageCharWidth() / 4.0); };
    const auto down = [&metrics](int units) { return qRound(units * metrics.height() / 8.0); };
    return QRect(across(x), down(y), across(width), down(height));
  };

  auto* icon = new QLabel(this);
  const QRect iconCorner = place(14, 14, 0, 0);
  icon->setGeometry(iconCorner.x(), iconCorner.y(), 32, 32);
  icon->setPixmap(QIcon(QString::fromLatin1(kReaderIconResource)).pixmap(32, 32));

  auto* version = new QLabel(QStringLiteral("版本 ") + GetReaderVersion(), this);
  version->setObjectName(QStringLiteral("1005"));
  version->setTextFormat(Qt::PlainText);
  version->setGeometry(place(42, 14, 114, 8));

  auto* notice = new QLabel(QStringLiteral("Copyright (C) QALV. 版權所有"), this);
  notice->setTextFormat(Qt::PlainText);
  notice->setGeometry(place(42, 26, 169, 8));

  auto* ok = new QPushButton(QStringLiteral("確定"), this);
  ok->setDefault(true);
  ok->setGeometry(place(161, 44, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  setFixedSize(place(0, 0, 218, 65).size());
}

}  // namespace qalv
