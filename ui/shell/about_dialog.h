// The About box that the main window's system menu opens: the reader's name,
// its version and the maker's notice.
#pragma once

#include <QDialog>

namespace qalv {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace qalv
