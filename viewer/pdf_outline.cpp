#include "viewer/pdf_outline.h"

#include "viewer/pdf_control.h"

namespace qalv {

CPdfOutline::CPdfOutline(CPdfControl& control, QWidget* parent) : QTreeView(parent), control_(control) {
  setAccessibleName(QStringLiteral("文件大綱"));
  setAccessibleDescription(QStringLiteral("保單文件的書籤；按一下項目或按 Enter 跳至該頁"));
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setModel(&model_);
  hide();  // until a document brings bookmarks
  // The model is rebuilt whenever the document is opened or closed.
  connect(&model_, &QAbstractItemModel::modelReset, this, &CPdfOutline::Refresh);
  connect(this, &QTreeView::clicked, this, &CPdfOutline::GoTo);
  connect(this, &QTreeView::activated, this, &CPdfOutline::GoTo);
  model_.setDocument(&control_.Document());
}

void CPdfOutline::Refresh() {
  expandAll();
  setVisible(model_.rowCount() > 0);
}

void CPdfOutline::GoTo(const QModelIndex& entry) {
  control_.GoToPage(entry.data(static_cast<int>(QPdfBookmarkModel::Role::Page)).toInt());
}

}  // namespace qalv
