#include "viewer/pdf_page_bar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "viewer/pdf_control.h"

namespace qalv {

CPdfPageBar::CPdfPageBar(CPdfControl& control, QWidget* parent)
    : QWidget(parent), control_(control), page_(new QLineEdit(this)), pages_(new QIntValidator(page_)),
      count_(new QLabel(this)), zoom_(new QLabel(this)) {
  setAccessibleName(QStringLiteral("頁碼與縮放"));
  setAccessibleDescription(QStringLiteral("目前頁碼、總頁數與縮放比例"));

  page_->setAlignment(Qt::AlignCenter);
  page_->setFixedWidth(page_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 12);
  // Digits only, never a number past the last page; the C locale keeps the
  // Taiwanese group separator out, so the text is a plain number.
  QLocale plain = QLocale::c();
  plain.setNumberOptions(QLocale::RejectGroupSeparator);
  pages_->setLocale(plain);
  page_->setValidator(pages_);
  page_->installEventFilter(this);
  page_->setToolTip(QStringLiteral("輸入頁碼後按 Enter 跳至該頁"));
  page_->setAccessibleName(QStringLiteral("目前頁碼"));
  page_->setAccessibleDescription(page_->toolTip());
  count_->setAccessibleDescription(QStringLiteral("文件的總頁數"));
  zoom_->setToolTip(QStringLiteral("縮放比例"));
  zoom_->setAccessibleDescription(QStringLiteral("目前的縮放比例，隨放大、縮小與縮放至視窗改變"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 2, 6, 2);
  row->addWidget(page_);
  row->addWidget(count_);
  row->addStretch();
  row->addWidget(zoom_);

  connect(&control_, &CPdfControl::CurrentPageChanged, this, &CPdfPageBar::ShowPage);
  connect(&control_, &CPdfControl::ZoomChanged, this, &CPdfPageBar::ShowZoom);
  ShowPage();
  ShowZoom(control_.Zoom());
}

bool CPdfPageBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == page_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      GoToTypedPage();
      return true;
    }
  } else if (watched == page_ && event->type() == QEvent::FocusOut) {
    ShowPage();
  }
  return QWidget::eventFilter(watched, event);
}

void CPdfPageBar::GoToTypedPage() {
  bool number = false;
  const int typed = page_->text().toInt(&number);
  if (number && typed >= 1 && typed <= control_.PageCount()) control_.GoToPage(typed - 1);
  ShowPage();
  page_->selectAll();
}

void CPdfPageBar::ShowPage() {
  const int count = control_.PageCount();
  pages_->setRange(1, std::max(count, 1));
  page_->setText(count > 0 ? QString::number(control_.CurrentPage() + 1) : QString());
  count_->setText(QStringLiteral("/ %1").arg(count));
  count_->setAccessibleName(QStringLiteral("共 %1 頁").arg(count));
}

void CPdfPageBar::ShowZoom(int percent) {
  zoom_->setText(QStringLiteral("%1%").arg(percent));
  zoom_->setAccessibleName(QStringLiteral("縮放比例 %1%").arg(percent));
}

}  // namespace qalv
