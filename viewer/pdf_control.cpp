#include "viewer/pdf_control.h"

#include <QKeyEvent>
#include <QPageLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QPdfDocumentRenderOptions>
#include <QPrintDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTransform>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace qalv {
namespace {

constexpr int kMargin = 8;
constexpr int kGap = 8;
// Pages up to this many device pixels are rendered whole and cached; larger
// ones (high zoom) only in the part that is in view, so memory stays bounded
// at any zoom.
constexpr qint64 kWholePagePixels = 8 << 20;
constexpr size_t kCachedRenders = 8;
constexpr qint64 kCacheBytes = 160 << 20;
// Printing renders at the printer's resolution, but no finer than this.
constexpr int kMaxPrintDpi = 300;

QSize Scaled(QSizeF size, qreal factor) {
  return QSize(std::max(1, qRound(size.width() * factor)), std::max(1, qRound(size.height() * factor)));
}

bool RendersWhole(QSize shown, qreal ratio) {
  return qint64(shown.width() * ratio) * qint64(shown.height() * ratio) <= kWholePagePixels;
}

// Maps an unturned page image of `size` onto the page turned clockwise by
// `quarterTurns`, with the result's top left at the origin.
QTransform Turn(int quarterTurns, QSize size) {
  return QImage::trueMatrix(QTransform().rotate(90.0 * quarterTurns), size.width(), size.height());
}

}  // namespace

CPdfControl::CPdfControl(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAutoFillBackground(false);
}

CPdfControl::~CPdfControl() { Close(); }

CPdfControl::OpenResult CPdfControl::Open(const uint8_t* bytes, size_t length, const QString& password) {
  Close();
  if (!bytes_.Assign(bytes, length)) return OpenResult::kNoMemory;
  view_ = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes_.data()), static_cast<qsizetype>(length));
  device_.setBuffer(&view_);
  if (!device_.open(QIODevice::ReadOnly)) {
    Close();
    return OpenResult::kRefused;
  }
  document_.setPassword(password);
  // A random-access device is read at once: the status is final on return.
  document_.load(&device_);
  if (document_.status() != QPdfDocument::Status::Ready || document_.pageCount() <= 0) {
    Close();
    return OpenResult::kRefused;
  }
  currentPage_ = 0;
  if (fit_ != -1) zoom_ = FitPercent();
  Relayout();
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  emit CurrentPageChanged(0);
  emit ZoomChanged(zoom_);
  return OpenResult::kOpened;
}

void CPdfControl::Close() {
  document_.close();
  device_.close();
  device_.setBuffer(nullptr);
  view_.clear();
  bytes_.Release();
  cache_.clear();
  pages_.clear();
  documentSize_ = {};
  currentPage_ = 0;
  viewport()->update();
}

int CPdfControl::PageCount() const { return static_cast<int>(pages_.size()); }

void CPdfControl::GoToPage(int index) {
  if (pages_.empty()) return;
  index = std::clamp(index, 0, PageCount() - 1);
  scrollingToPage_ = true;
  verticalScrollBar()->setValue(pages_[index].top() - kMargin);
  scrollingToPage_ = false;
  SetCurrent(index);
  viewport()->update();
}

void CPdfControl::SetZoom(int value) {
  if (value == kFitHeight || value == kFitWidth) {
    fit_ = value;
    SetPercent(FitPercent());
    return;
  }
  fit_ = -1;
  SetPercent(value == kActualSize ? 100 : value);
}

void CPdfControl::SetPercent(int percent) {
  percent = std::clamp(percent, kMinZoom, kMaxZoom);
  if (percent == zoom_) return;
  zoom_ = percent;
  cache_.clear();
  RelayoutKeepingPlace();
  emit ZoomChanged(zoom_);
}

int CPdfControl::FitPercent() const {
  if (document_.pageCount() <= 0) return zoom_;
  const QSize actual = ShownSize(currentPage_, 100);
  const double room = fit_ == kFitWidth ? viewport()->width() - 2 * kMargin : viewport()->height() - 2 * kMargin;
  const double need = fit_ == kFitWidth ? actual.width() : actual.height();
  return std::clamp(static_cast<int>(std::floor(100.0 * std::max(room, 1.0) / need)), kMinZoom, kMaxZoom);
}

void CPdfControl::SetRotation(int quarterTurns) {
  const int turned = ((quarterTurns % 4) + 4) % 4;
  if (turned == rotation_) return;
  rotation_ = turned;
  cache_.clear();
  if (fit_ != -1) {
    const int percent = FitPercent();
    if (percent != zoom_) {
      zoom_ = percent;
      emit ZoomChanged(zoom_);
    }
  }
  RelayoutKeepingPlace();
}

qreal CPdfControl::PixelsPerPoint(int zoom) const { return logicalDpiY() / 72.0 * zoom / 100.0; }

QSize CPdfControl::ShownSize(int index, int zoom) const {
  QSizeF points = document_.pagePointSize(index);
  if (rotation_ % 2 == 1) points.transpose();
  return Scaled(points, PixelsPerPoint(zoom));
}

QSize CPdfControl::PageDisplaySize(int index) const {
  if (index < 0 || index >= PageCount()) return {};
  return pages_[index].size();
}

QPoint CPdfControl::Shift() const {
  return QPoint(std::max(0, (viewport()->width() - documentSize_.width()) / 2) - horizontalScrollBar()->value(),
                -verticalScrollBar()->value());
}

QTransform CPdfControl::PageToViewport(int index) const {
  if (index < 0 || index >= PageCount()) return {};
  const QRect shown = pages_[index].translated(Shift());
  const QSizeF points = document_.pagePointSize(index);
  // Scaled to the rounded size the renders have, so marks meet the ink.
  const QSize unturned = rotation_ % 2 == 1 ? shown.size().transposed() : shown.size();
  return QTransform::fromScale(unturned.width() / points.width(), unturned.height() / points.height()) *
         Turn(rotation_, unturned) * QTransform::fromTranslate(shown.left(), shown.top());
}

int CPdfControl::PageAt(QPoint viewportPoint) const {
  const QPoint at = viewportPoint - Shift();
  const auto page = std::find_if(pages_.begin(), pages_.end(), [at](const QRect& rect) { return rect.contains(at); });
  return page == pages_.end() ? -1 : static_cast<int>(page - pages_.begin());
}

void CPdfControl::ShowArea(int index, const QRectF& area) {
  if (index < 0 || index >= PageCount()) return;
  const QRect shown = PageToViewport(index).mapRect(area).toAlignedRect();
  const QRect room = viewport()->rect();
  scrollingToPage_ = true;
  // An area already in view stays where it is; one outside comes to the
  // middle across and to a third of the height down, leaving its context
  // above it in view.
  if (shown.left() < room.left() || shown.right() > room.right()) {
    QScrollBar& bar = *horizontalScrollBar();
    bar.setValue(bar.value() + shown.center().x() - room.center().x());
  }
  if (shown.top() < room.top() || shown.bottom() > room.bottom()) {
    QScrollBar& bar = *verticalScrollBar();
    bar.setValue(bar.value() + shown.top() - room.height() / 3);
  }
  scrollingToPage_ = false;
  SetCurrent(index);
  viewport()->update();
}

void CPdfControl::Relayout() {
  const int count = document_.pageCount();
  pages_.assign(static_cast<size_t>(std::max(count, 0)), QRect());
  int width = 0;
  for (int index = 0; index < count; ++index) {
    pages_[index].setSize(ShownSize(index, zoom_));
    width = std::max(width, pages_[index].width());
  }
  int top = kMargin;
  for (QRect& page : pages_) {
    page.moveTopLeft(QPoint(kMargin + (width - page.width()) / 2, top));
    top += page.height() + kGap;
  }
  documentSize_ = QSize(width + 2 * kMargin, count > 0 ? top - kGap + kMargin : 0);
  const QSize room = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, documentSize_.width() - room.width()));
  horizontalScrollBar()->setPageStep(room.width());
  horizontalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setRange(0, std::max(0, documentSize_.height() - room.height()));
  verticalScrollBar()->setPageStep(room.height());
  verticalScrollBar()->setSingleStep(20);
  viewport()->update();
}

void CPdfControl::RelayoutKeepingPlace() {
  if (pages_.empty()) {
    Relayout();
    return;
  }
  // Keep the same spot of the current page at the top of the view.
  const QRect before = pages_[currentPage_];
  const double into = (verticalScrollBar()->value() - before.top()) / static_cast<double>(before.height());
  Relayout();
  const QRect after = pages_[currentPage_];
  scrollingToPage_ = true;
  verticalScrollBar()->setValue(after.top() + qRound(into * after.height()));
  scrollingToPage_ = false;
}

void CPdfControl::SetCurrent(int index) {
  if (index == currentPage_) return;
  currentPage_ = index;
  emit CurrentPageChanged(index);
}

void CPdfControl::scrollContentsBy(int, int) {
  viewport()->update();
  if (scrollingToPage_ || pages_.empty()) return;
  // The page under the top edge of the view (the next one when the edge is
  // in a gap).
  const int top = verticalScrollBar()->value();
  const auto under = std::find_if(pages_.begin(), pages_.end(), [top](const QRect& page) { return page.bottom() >= top; });
  SetCurrent(static_cast<int>(std::min(under - pages_.begin(), static_cast<ptrdiff_t>(PageCount() - 1))));
}

void CPdfControl::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (fit_ != -1) {
    const int percent = FitPercent();
    if (percent != zoom_) {
      zoom_ = percent;
      cache_.clear();
      RelayoutKeepingPlace();
      emit ZoomChanged(zoom_);
      return;
    }
  }
  RelayoutKeepingPlace();
}

void CPdfControl::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_PageUp:
      GoToPage(currentPage_ - 1);
      return;
    case Qt::Key_PageDown:
      GoToPage(currentPage_ + 1);
      return;
    case Qt::Key_Home:
      GoToPage(0);
      return;
    case Qt::Key_End:
      GoToPage(PageCount() - 1);
      return;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void CPdfControl::wheelEvent(QWheelEvent* event) {
  if (!event->modifiers().testFlag(Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  const int notches = event->angleDelta().y() / 120;
  if (notches != 0) {
    fit_ = -1;
    SetPercent(zoom_ + 10 * notches);
  }
  event->accept();
}

void CPdfControl::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), palette().dark());
  if (pages_.empty()) return;
  const QPoint shift = Shift();
  const QRect area = event->rect();
  for (int index = 0; index < PageCount(); ++index) {
    const QRect shown = pages_[index].translated(shift);
    if (shown.top() > area.bottom()) break;
    if (!shown.intersects(area)) continue;
    painter.fillRect(shown, Qt::white);
    if (RendersWhole(shown.size(), devicePixelRatioF())) {
      painter.drawImage(shown.topLeft(), CachedPiece(index, QRect()));
    } else {
      const QRect visible = shown.intersected(viewport()->rect());
      painter.drawImage(visible.topLeft(), CachedPiece(index, visible.translated(-shown.topLeft())));
    }
    painter.save();
    emit PagePainted(&painter, index, PageToViewport(index));
    painter.restore();
  }
}

QImage CPdfControl::RenderPage(int index) {
  if (index < 0 || index >= PageCount() || !RendersWhole(pages_[index].size(), devicePixelRatioF())) return {};
  return CachedPiece(index, QRect());
}

QImage CPdfControl::CachedPiece(int index, const QRect& shownClip) {
  const qreal ratio = devicePixelRatioF();
  const auto hit = std::find_if(cache_.begin(), cache_.end(), [&](const CachedRender& render) {
    return render.page == index && render.pixelRatio == ratio && render.clip == shownClip;
  });
  if (hit != cache_.end()) {
    cache_.splice(cache_.begin(), cache_, hit);
    return cache_.front().image;
  }

  const QSize shownDevice = Scaled(pages_[index].size(), ratio);
  const QSize unturned = rotation_ % 2 == 1 ? shownDevice.transposed() : shownDevice;
  QRect unturnedClip;
  if (!shownClip.isNull()) {
    const QRect deviceClip = QRectF(QPointF(shownClip.topLeft()) * ratio, QSizeF(shownClip.size()) * ratio)
                                 .toAlignedRect()
                                 .intersected(QRect(QPoint(), shownDevice));
    unturnedClip = Turn(rotation_, unturned).inverted().mapRect(QRectF(deviceClip)).toAlignedRect();
  }
  QImage image = Render(index, unturned, unturnedClip);
  image.setDevicePixelRatio(ratio);

  cache_.push_front({index, ratio, shownClip, image});
  qint64 bytes = 0;
  auto keep = cache_.begin();
  for (size_t kept = 0; keep != cache_.end(); ++keep, ++kept) {
    bytes += keep->image.sizeInBytes();
    if (kept >= kCachedRenders || (kept > 0 && bytes > kCacheBytes)) break;
  }
  cache_.erase(keep, cache_.end());
  return image;
}

QImage CPdfControl::Render(int index, QSize unturnedSize, const QRect& unturnedClip) {
  QImage image;
  if (unturnedClip.isNull()) {
    image = document_.render(index, unturnedSize);
  } else {
    // The renderer scales a clip by (clip extent - 1) / extent; ask for a
    // page that much larger so the piece lines up with whole-page renders.
    const QRect clip = unturnedClip.adjusted(0, 0, unturnedClip.width() < 2 ? 1 : 0, unturnedClip.height() < 2 ? 1 : 0);
    QPdfDocumentRenderOptions options;
    options.setScaledClipRect(clip);
    options.setScaledSize(QSize(qRound(unturnedSize.width() * clip.width() / (clip.width() - 1.0)),
                                qRound(unturnedSize.height() * clip.height() / (clip.height() - 1.0))));
    image = document_.render(index, clip.size(), options);
  }
  if (rotation_ == 0 || image.isNull()) return image;
  return image.transformed(QTransform().rotate(90.0 * rotation_));
}

void CPdfControl::Print() {
  if (pages_.empty()) return;
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  dialog.setMinMax(1, PageCount());
  if (dialog.exec() != QDialog::Accepted) return;
  PrintTo(printer);
}

bool CPdfControl::PrintTo(QPrinter& printer) {
  if (pages_.empty()) return false;
  QPainter painter;
  if (!painter.begin(&printer)) return false;
  const int first = printer.fromPage() > 0 ? printer.fromPage() - 1 : 0;
  const int last = printer.toPage() > 0 ? std::min(printer.toPage(), PageCount()) - 1 : PageCount() - 1;
  const QRectF sheet = printer.pageLayout().paintRectPixels(printer.resolution());
  const int dpi = std::min(printer.resolution(), kMaxPrintDpi);
  for (int index = first; index <= last; ++index) {
    if (index > first) printer.newPage();
    QSizeF points = document_.pagePointSize(index);
    const QImage image = Render(index, Scaled(points, dpi / 72.0), QRect());
    if (rotation_ % 2 == 1) points.transpose();
    const qreal fit = std::min(sheet.width() / points.width(), sheet.height() / points.height());
    const QSizeF placed = points * fit;
    painter.drawImage(QRectF(QPointF((sheet.width() - placed.width()) / 2, (sheet.height() - placed.height()) / 2),
                             placed),
                      image);
  }
  return painter.end();
}

}  // namespace qalv
