// The viewer's status row: the page in view with a field to go to another
// ("3 / 12") and the zoom percentage, both following the control whatever
// moved it (toolbar, keys, scrolling, search, outline).
#pragma once

#include <QWidget>

class QIntValidator;
class QLabel;
class QLineEdit;

namespace qalv {

class CPdfControl;

class CPdfPageBar : public QWidget {
  Q_OBJECT
 public:
  CPdfPageBar(CPdfControl& control, QWidget* parent);

  QLineEdit& PageField() { return *page_; }
  QLabel& PageCount() { return *count_; }
  QLabel& ZoomLabel() { return *zoom_; }

 protected:
  // Enter in the page field goes to the page typed; what is not a page of
  // the document is refused, and the field shows the current page again
  // after Enter and when it loses the focus.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void GoToTypedPage();
  void ShowPage();
  void ShowZoom(int percent);

  CPdfControl& control_;
  QLineEdit* page_;
  QIntValidator* pages_;
  QLabel* count_;
  QLabel* zoom_;
};

}  // namespace qalv
