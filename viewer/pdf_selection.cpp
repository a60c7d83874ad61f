#include "viewer/pdf_selection.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QTransform>
#include <algorithm>

#include "viewer/pdf_control.h"

namespace qalv {
namespace {

// Multiplied over the page, so the ink stays black under the mark.
const QColor kSelectionColour(150, 200, 255);

}  // namespace

CPdfSelection::CPdfSelection(CPdfControl& control) : control_(control) {
  // Ctrl+C while the pages have the focus; the action goes with this object.
  auto* copy = new QAction(QStringLiteral("複製"), this);
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  connect(copy, &QAction::triggered, this, &CPdfSelection::Copy);
  control_.addAction(copy);
  control_.viewport()->setMouseTracking(true);
  control_.viewport()->installEventFilter(this);
  connect(&control_, &CPdfControl::PagePainted, this, &CPdfSelection::Paint);
}

QString CPdfSelection::Text() const {
  if (!selection_ || !selection_->isValid()) return {};
  // PDFium ends lines with "\r\n".
  return selection_->text().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void CPdfSelection::Copy() const {
  const QString text = Text();
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

QPointF CPdfSelection::OnPage(QPointF viewportPoint) const {
  const QPointF point = control_.PageToViewport(page_).inverted().map(viewportPoint);
  // A drag that leaves the page selects up to its edge.
  const QSizeF size = control_.Document().pagePointSize(page_);
  return QPointF(std::clamp(point.x(), 0.0, size.width()), std::clamp(point.y(), 0.0, size.height()));
}

QPdfSelection CPdfSelection::Select(QPointF to) const {
  // Qt selects from the character under the first point up to the one under
  // the second, which it takes only when the point is past its middle: a drag
  // up or to the left would lose the character it started on. Asked both
  // ways, the longer answer is the text the reader went over.
  QPdfDocument& document = control_.Document();
  const QPdfSelection forward = document.getSelection(page_, anchor_, to);
  const QPdfSelection backward = document.getSelection(page_, to, anchor_);
  const auto length = [](const QPdfSelection& selection) {
    return selection.isValid() && selection.startIndex() >= 0 ? selection.endIndex() - selection.startIndex() : -1;
  };
  return length(backward) > length(forward) ? backward : forward;
}

bool CPdfSelection::eventFilter(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::MouseButtonPress;
  if (watched != control_.viewport() || (!press && event->type() != QEvent::MouseMove)) {
    return QObject::eventFilter(watched, event);
  }
  const auto* mouse = static_cast<QMouseEvent*>(event);
  if (press && mouse->button() == Qt::LeftButton) {
    selection_.reset();
    page_ = control_.PageAt(mouse->position().toPoint());
    if (page_ >= 0) anchor_ = OnPage(mouse->position());
    control_.viewport()->update();
    return true;
  }
  if (!press && mouse->buttons().testFlag(Qt::LeftButton) && page_ >= 0) {
    selection_ = Select(OnPage(mouse->position()));
    control_.viewport()->update();
    return true;
  }
  if (!press && mouse->buttons() == Qt::NoButton) {
    const bool onPage = control_.PageAt(mouse->position().toPoint()) >= 0;
    control_.viewport()->setCursor(onPage ? Qt::IBeamCursor : Qt::ArrowCursor);
  }
  return QObject::eventFilter(watched, event);
}

void CPdfSelection::Paint(QPainter* painter, int page, const QTransform& pageToViewport) {
  if (page != page_ || !selection_ || !selection_->isValid()) return;
  painter->setCompositionMode(QPainter::CompositionMode_Multiply);
  painter->setPen(Qt::NoPen);
  painter->setBrush(kSelectionColour);
  for (const QPolygonF& bound : selection_->bounds()) painter->drawPolygon(pageToViewport.map(bound));
}

}  // namespace qalv
