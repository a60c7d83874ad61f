// The PDF viewer dialog: the decrypted document in a CPdfControl under a bar
// of twelve buttons for zoom, page navigation, rotation and printing; beside
// it the outline when the document has bookmarks, below it the search bar
// (Ctrl+F) and the row with the page and zoom; text is selected with the
// mouse and copied with Ctrl+C.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

#include "viewer/pdf_control.h"
#include "viewer/pdf_selection.h"

class QAction;
class QSplitter;
class QToolBar;

namespace qalv {

class CPdfOutline;
class CPdfPageBar;
class CPdfSearchBar;

class PDFDlg : public QDialog {
  Q_OBJECT
 public:
  // Results the dialog ends with before it is shown.
  static constexpr int kDocumentRefused = 100;
  static constexpr int kNotCreated = -1;

  // `pdfData` stays the caller's and must outlive the dialog.
  PDFDlg(const uint8_t* pdfData, int32_t pdfLength, QWidget* parent = nullptr);

  // Builds the toolbar and opens the document: 0, or the result the dialog
  // ends with at once (kDocumentRefused, kNotCreated). exec() runs it first.
  int OnInitDialog();
  int exec() override;

  CPdfControl& Control() { return *m_pdfControl; }
  CPdfSearchBar& SearchBar() { return *m_searchBar; }
  CPdfPageBar& PageBar() { return *m_pageBar; }
  CPdfOutline& Outline() { return *m_outline; }
  // The toolbar button of `commandId`, or null.
  QAction* Button(int commandId) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool BuildToolBar();
  void UpdateNavigation();
  void PlaceControl();
  void PlaceBars();
  int BarsHeight() const;
  void ApplyMinimumSize();
  void ZoomIn();
  void ZoomOut();
  void Rotate(int quarterTurns);

  CPdfControl* m_pdfControl;
  bool m_maximized = false;
  QToolBar* m_toolBar = nullptr;
  int m_toolbarHeight = 32;
  int m_workAreaBottom = 0;
  const uint8_t* m_pdfData;
  int32_t m_pdfLength;
  // Restarted by every size change; the control is placed again only when
  // the border has stopped moving.
  QTimer m_dragEnd;
  // Children are deleted in the order they were made: the bars, then the
  // splitter with the outline before the control, so every model that reads
  // the control's document goes before the document.
  CPdfSearchBar* m_searchBar;
  CPdfPageBar* m_pageBar;
  QSplitter* m_body;  // the outline beside the control
  CPdfOutline* m_outline;
  CPdfSelection m_selection;
};

}  // namespace qalv
