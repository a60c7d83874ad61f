// The PDF control of the viewer dialog: shows a document held in memory as a
// column of pages in a scroll area, with zoom, quarter-turn rotation, page
// navigation and printing. Pages are drawn from QPdfDocument renders so that
// rotation is ours to apply; only pages in view are rendered, and a few
// renders are kept for scrolling back.
#pragma once

#include <QAbstractScrollArea>
#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPdfDocument>
#include <QRect>
#include <QSize>
#include <QTransform>
#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include "platform/secure_buffer.h"

class QPainter;
class QPrinter;

namespace qalv {

class CPdfControl : public QAbstractScrollArea {
  Q_OBJECT
 public:
  // Zoom values that ask for a fit instead of a percentage.
  static constexpr int kActualSize = 0;
  static constexpr int kFitHeight = 1;
  static constexpr int kFitWidth = 2;
  static constexpr int kMinZoom = 10;
  static constexpr int kMaxZoom = 6400;

  // Outcome of Open.
  enum class OpenResult { kOpened, kRefused, kNoMemory };

  explicit CPdfControl(QWidget* parent = nullptr);
  ~CPdfControl() override;

  // Shows the document in `bytes`, opened with `password`. The control keeps
  // its own copy (wiped when the document is closed); the bytes never go to
  // a file.
  OpenResult Open(const uint8_t* bytes, size_t length, const QString& password = {});
  void Close();

  int PageCount() const;
  // 0-based index of the page in view.
  int CurrentPage() const { return currentPage_; }
  // Scrolls page `index` (clamped to the document) to the top of the view.
  void GoToPage(int index);

  // The zoom as a percentage. Writing kActualSize, kFitHeight or kFitWidth
  // selects that fit (kept on resizing until another zoom is set); any other
  // value is a percentage, clamped to kMinZoom..kMaxZoom.
  int Zoom() const { return zoom_; }
  void SetZoom(int value);

  // Quarter turns clockwise, 0..3; other values wrap.
  int Rotation() const { return rotation_; }
  void SetRotation(int quarterTurns);

  // Asks for a printer with the system's print dialog and prints the pages.
  void Print();
  // Prints the pages in the printer's range, turned as shown, each fitted to
  // a sheet. False when the printer cannot be started.
  bool PrintTo(QPrinter& printer);

  // Page `index` as shown now (zoom and rotation), in widget pixels.
  QSize PageDisplaySize(int index) const;
  // Maps page `index`'s points (origin at its top left, as Qt PDF gives text
  // and link places) to viewport pixels as the page is shown now.
  QTransform PageToViewport(int index) const;
  // The page under `viewportPoint`, or -1 (a gap, a margin, no document).
  int PageAt(QPoint viewportPoint) const;
  // Scrolls the least that brings `area` (points) of page `index` into view
  // and makes that page the current one.
  void ShowArea(int index, const QRectF& area);

  // The open document, for the search, selection and outline that read it.
  QPdfDocument& Document() { return document_; }
  // The whole page as shown now, rendered at the screen's pixel density;
  // null when the page is too large to render whole at this zoom.
  QImage RenderPage(int index);

 signals:
  void CurrentPageChanged(int index);
  void ZoomChanged(int percent);
  // Page `index` has just been drawn with `painter` (on the viewport), so that
  // marks such as search hits and the selection go over its content.
  void PagePainted(QPainter* painter, int index, const QTransform& pageToViewport);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  // A render at the current zoom and rotation; the cache is emptied when
  // either changes.
  struct CachedRender {
    int page = 0;
    qreal pixelRatio = 0;
    QRect clip;  // in shown device pixels; null: the whole page
    QImage image;
  };

  qreal PixelsPerPoint(int zoom) const;
  // Where the document's origin lies in the viewport: centred when narrower
  // than the view, moved by the scroll bars.
  QPoint Shift() const;
  QSize ShownSize(int index, int zoom) const;
  void SetPercent(int percent);
  int FitPercent() const;
  void Relayout();
  void RelayoutKeepingPlace();
  void SetCurrent(int index);
  QImage CachedPiece(int index, const QRect& shownClip);
  QImage Render(int index, QSize unturnedSize, const QRect& unturnedClip);

  SecureBuffer bytes_;
  QByteArray view_;
  QBuffer device_;
  QPdfDocument document_;
  int currentPage_ = 0;
  int zoom_ = 100;
  int fit_ = -1;  // kFitHeight or kFitWidth while a fit is kept, else -1
  int rotation_ = 0;
  bool scrollingToPage_ = false;
  // Page rectangles in document coordinates (widget pixels), top to bottom.
  std::vector<QRect> pages_;
  QSize documentSize_;
  std::list<CachedRender> cache_;  // most recent first
};

}  // namespace qalv
