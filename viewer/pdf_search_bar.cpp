#include "viewer/pdf_search_bar.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "viewer/pdf_control.h"

namespace qalv {
namespace {

// Searching a page of dense text takes a few milliseconds: a slice this long
// per turn of the event loop keeps typing and scrolling smooth.
constexpr qint64 kSliceMs = 15;
// Multiplied over the page, so the ink stays black under the mark.
const QColor kHitColour(255, 236, 90);
const QColor kCurrentHitColour(255, 150, 30);

QToolButton* Button(QWidget* parent, QStyle::StandardPixmap icon, const QString& name, const QString& description) {
  auto* button = new QToolButton(parent);
  button->setIcon(parent->style()->standardIcon(icon));
  button->setAutoRaise(true);
  button->setToolTip(name);
  button->setAccessibleName(name);
  button->setAccessibleDescription(description);
  return button;
}

}  // namespace

CPdfSearchBar::CPdfSearchBar(CPdfControl& control, QWidget* parent)
    : QWidget(parent), control_(control), field_(new QLineEdit(this)),
      previous_(Button(this, QStyle::SP_ArrowUp, QStringLiteral("上一個"),
                       QStringLiteral("跳至上一個找到的位置（Shift+Enter）"))),
      next_(Button(this, QStyle::SP_ArrowDown, QStringLiteral("下一個"),
                   QStringLiteral("跳至下一個找到的位置（Enter）"))),
      result_(new QLabel(this)),
      close_(Button(this, QStyle::SP_TitleBarCloseButton, QStringLiteral("關閉搜尋列"),
                    QStringLiteral("關閉搜尋列並取消標示（Esc）"))) {
  setAccessibleName(QStringLiteral("搜尋列"));
  setAccessibleDescription(QStringLiteral("在保單文件中尋找文字"));
  field_->setPlaceholderText(QStringLiteral("搜尋文件內容"));
  field_->setClearButtonEnabled(true);
  field_->setAccessibleName(QStringLiteral("搜尋文字"));
  field_->setAccessibleDescription(
      QStringLiteral("輸入要尋找的文字；Enter 找下一個，Shift+Enter 找上一個，Esc 關閉搜尋列"));
  field_->installEventFilter(this);
  result_->setAccessibleDescription(QStringLiteral("找到的項目數與目前是第幾項"));

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(6, 2, 6, 2);
  row->addWidget(field_, 1);
  row->addWidget(previous_);
  row->addWidget(next_);
  row->addWidget(result_, 1);
  row->addWidget(close_);
  hide();

  model_.setDocument(&control_.Document());
  pass_.setInterval(0);
  connect(&pass_, &QTimer::timeout, this, &CPdfSearchBar::SearchSomePages);
  connect(field_, &QLineEdit::textChanged, this, &CPdfSearchBar::Search);
  connect(previous_, &QToolButton::clicked, this, &CPdfSearchBar::FindPrevious);
  connect(next_, &QToolButton::clicked, this, &CPdfSearchBar::FindNext);
  connect(close_, &QToolButton::clicked, this, &CPdfSearchBar::Close);
  connect(&control_, &CPdfControl::PagePainted, this, &CPdfSearchBar::PaintHits);
  ShowResult();
}

void CPdfSearchBar::Open() {
  if (isHidden()) {
    show();
    emit OpenChanged(true);
    control_.viewport()->update();
  }
  field_->setFocus(Qt::ShortcutFocusReason);
  field_->selectAll();
}

void CPdfSearchBar::Close() {
  if (isHidden()) return;
  hide();
  emit OpenChanged(false);
  control_.setFocus(Qt::OtherFocusReason);
  control_.viewport()->update();
}

void CPdfSearchBar::keyPressEvent(QKeyEvent* event) {
  // Esc reaches the bar from any of its controls before the dialog, which
  // would close.
  if (event->key() == Qt::Key_Escape) {
    Close();
    return;
  }
  QWidget::keyPressEvent(event);
}

bool CPdfSearchBar::eventFilter(QObject* watched, QEvent* event) {
  if (watched == field_ && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      if (key->modifiers().testFlag(Qt::ShiftModifier)) {
        FindPrevious();
      } else {
        FindNext();
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CPdfSearchBar::Search(const QString& text) {
  pass_.stop();
  searched_ = 0;
  current_ = -1;
  currentLink_ = QPdfLink();
  startPage_ = control_.CurrentPage();
  model_.setSearchString(text);
  if (!text.isEmpty()) pass_.start();
  ShowResult();
  control_.viewport()->update();
}

bool CPdfSearchBar::SearchOnePage() {
  if (model_.searchString().isEmpty() || searched_ >= control_.PageCount()) return false;
  // Searches the page if the model has not yet (rows are added for its hits).
  model_.resultsOnPage(searched_++);
  return true;
}

void CPdfSearchBar::SearchSomePages() {
  QElapsedTimer slice;
  slice.start();
  while (SearchOnePage() && slice.elapsed() < kSliceMs) {
  }
  if (searched_ >= control_.PageCount()) pass_.stop();
  // While the text is typed, the view follows its first hit.
  const int first = current_ < 0 ? FirstHitFromStart() : -1;
  if (first >= 0) {
    SelectHit(first);
  } else {
    ShowResult();
    control_.viewport()->update();
  }
}

int CPdfSearchBar::HitCount() const { return model_.rowCount({}); }

int CPdfSearchBar::HitsBefore(int page) const {
  int rows = 0;
  for (int searched = 0; searched < std::min(page, searched_); ++searched) {
    rows += static_cast<int>(model_.resultsOnPage(searched).size());
  }
  return rows;
}

// The row of the first hit on the start page or after it, once the pages up
// to it are searched; the first hit of all once every page is. Else -1.
int CPdfSearchBar::FirstHitFromStart() const {
  const int before = HitsBefore(startPage_);
  if (searched_ > startPage_ && HitCount() > before) return before;
  if (searched_ >= control_.PageCount() && HitCount() > 0) return 0;
  return -1;
}

void CPdfSearchBar::FindNext() {
  int row = -1;
  if (current_ < 0) {
    while (FirstHitFromStart() < 0 && SearchOnePage()) {
    }
    row = FirstHitFromStart();
  } else {
    while (current_ + 1 >= HitCount() && SearchOnePage()) {
    }
    row = current_ + 1 < HitCount() ? current_ + 1 : 0;
  }
  if (row >= 0) {
    SelectHit(row);
  } else {
    ShowResult();
  }
}

void CPdfSearchBar::FindPrevious() {
  if (current_ > 0) {
    SelectHit(current_ - 1);
    return;
  }
  // Around to the last hit, or with none chosen yet to the last one above the
  // start page: either needs every page searched.
  while (SearchOnePage()) {
  }
  const int before = current_ < 0 ? HitsBefore(startPage_) : 0;
  const int row = before > 0 ? before - 1 : HitCount() - 1;
  if (row >= 0) {
    SelectHit(row);
  } else {
    ShowResult();
  }
}

void CPdfSearchBar::SelectHit(int row) {
  current_ = row;
  currentLink_ = model_.resultAtIndex(row);
  QRectF area;
  for (const QRectF& rect : currentLink_.rectangles()) area |= rect;
  control_.ShowArea(currentLink_.page(), area);
  ShowResult();
}

void CPdfSearchBar::ShowResult() {
  if (model_.searchString().isEmpty()) {
    result_->clear();
    result_->setAccessibleName(QStringLiteral("搜尋結果"));
    return;
  }
  QString text;
  if (HitCount() == 0) {
    text = searched_ < control_.PageCount() ? QStringLiteral("搜尋中…") : QStringLiteral("找不到");
  } else if (current_ < 0) {
    text = QStringLiteral("共 %1 項").arg(HitCount());
  } else {
    text = QStringLiteral("第 %1 項，共 %2 項").arg(current_ + 1).arg(HitCount());
  }
  result_->setText(text);
  result_->setAccessibleName(QStringLiteral("搜尋結果：") + text);
}

void CPdfSearchBar::PaintHits(QPainter* painter, int page, const QTransform& pageToViewport) {
  if (isHidden() || page >= searched_) return;
  painter->setCompositionMode(QPainter::CompositionMode_Multiply);
  painter->setPen(Qt::NoPen);
  for (const QPdfLink& hit : model_.resultsOnPage(page)) {
    const bool current = page == currentLink_.page() && hit.rectangles() == currentLink_.rectangles();
    painter->setBrush(current ? kCurrentHitColour : kHitColour);
    for (const QRectF& rect : hit.rectangles()) painter->drawPolygon(pageToViewport.map(QPolygonF(rect)));
  }
}

}  // namespace qalv
