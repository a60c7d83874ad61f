// The PDF viewer dialog: the decrypted document in a CPdfControl under a bar
// of twelve buttons for zoom, page navigation, rotation and printing.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>

#include "viewer/pdf_control.h"

class QAction;
class QToolBar;

namespace qalv {

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
  // The toolbar button of `commandId`, or null.
  QAction* Button(int commandId) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool BuildToolBar();
  void UpdateNavigation();
  void PlaceControl();
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
};

}  // namespace qalv
