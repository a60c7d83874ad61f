// The viewer's search bar (Ctrl+F): finds a text on every page of the
// document with Qt PDF's search model, marks the hits on the pages and steps
// through them, scrolling the current one into view. Enter finds the next
// hit, Shift+Enter the previous one, Esc closes the bar.
#pragma once

#include <QPdfLink>
#include <QPdfSearchModel>
#include <QTimer>
#include <QWidget>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPainter;
class QToolButton;

namespace qalv {

class CPdfControl;

class CPdfSearchBar : public QWidget {
  Q_OBJECT
 public:
  CPdfSearchBar(CPdfControl& control, QWidget* parent);

  // Shows the bar (and its marks) with the field focused and its text selected.
  void Open();
  // Hides the bar and its marks; the focus goes back to the document.
  void Close();
  void FindNext();
  void FindPrevious();

  // Where the current hit is (page and rectangles in points); invalid when
  // there is none.
  const QPdfLink& CurrentHit() const { return currentLink_; }

  QLineEdit& Field() { return *field_; }
  QLabel& Result() { return *result_; }
  QToolButton& PreviousButton() { return *previous_; }
  QToolButton& NextButton() { return *next_; }
  QToolButton& CloseButton() { return *close_; }

 signals:
  void OpenChanged(bool open);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Search(const QString& text);
  bool SearchOnePage();
  void SearchSomePages();
  int HitCount() const;
  int HitsBefore(int page) const;
  int FirstHitFromStart() const;
  void SelectHit(int row);
  void ShowResult();
  void PaintHits(QPainter* painter, int page, const QTransform& pageToViewport);

  CPdfControl& control_;
  QPdfSearchModel model_;
  // Pages are searched in order, a slice of time per turn of the event loop,
  // so the model's rows only ever grow at the end and a row number names the
  // same hit for the whole search; pages [0, searched_) are done.
  QTimer pass_;
  int searched_ = 0;
  // The page in view when the text changed: the first hit shown is the first
  // one from there on.
  int startPage_ = 0;
  int current_ = -1;
  QPdfLink currentLink_;
  QLineEdit* field_;
  QToolButton* previous_;
  QToolButton* next_;
  QLabel* result_;
  QToolButton* close_;
};

}  // namespace qalv
