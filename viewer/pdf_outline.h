// The outline panel: the document's bookmarks as a tree beside the pages,
// shown only when the document has any. Choosing an entry (a click, or Enter
// on it) goes to its page.
#pragma once

#include <QPdfBookmarkModel>
#include <QTreeView>

namespace qalv {

class CPdfControl;

class CPdfOutline : public QTreeView {
  Q_OBJECT
 public:
  CPdfOutline(CPdfControl& control, QWidget* parent);

 private:
  void Refresh();
  void GoTo(const QModelIndex& entry);

  CPdfControl& control_;
  QPdfBookmarkModel model_;
};

}  // namespace qalv
