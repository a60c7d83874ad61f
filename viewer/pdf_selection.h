// Text selection in the viewer: a drag with the left button over a page
// selects the text from where it started to where it is, within that page
// (Qt 6.4's QPdfView offers no selection of its own); the selection is marked
// on the page, and Ctrl+C puts its text on the clipboard. The text is read
// from the document in memory and goes nowhere but the clipboard.
#pragma once

#include <QObject>
#include <QPdfSelection>
#include <QPointF>
#include <optional>

class QPainter;
class QTransform;

namespace qalv {

class CPdfControl;

class CPdfSelection : public QObject {
  Q_OBJECT
 public:
  explicit CPdfSelection(CPdfControl& control);

  // Puts the selected text on the clipboard; nothing when none is selected.
  void Copy() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The selected text, lines ending in "\n"; empty when nothing is selected.
  QString Text() const;
  QPointF OnPage(QPointF viewportPoint) const;
  QPdfSelection Select(QPointF to) const;
  void Paint(QPainter* painter, int page, const QTransform& pageToViewport);

  CPdfControl& control_;
  int page_ = -1;   // where the drag started; -1 before any
  QPointF anchor_;  // in the page's points
  std::optional<QPdfSelection> selection_;
};

}  // namespace qalv
