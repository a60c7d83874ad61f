#include "viewer/pdf_dialog.h"

#include <QAction>
#include <QFile>
#include <QIcon>
#include <QLineEdit>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <array>

#include "viewer/pdf_outline.h"
#include "viewer/pdf_page_bar.h"
#include "viewer/pdf_search_bar.h"

namespace qalv {
namespace {

constexpr int kControlId = 1004;
constexpr int kZoomStep = 10;
// How long the border must rest before the control is placed again.
constexpr int kDragEndMs = 200;

enum Command : int {
  kZoomIn = 32771,
  kZoomOut = 32772,
  kFirstPage = 32773,
  kPreviousPage = 32774,
  kNextPage = 32775,
  kLastPage = 32776,
  kActualSize = 32785,
  kFitWidth = 32786,
  kFitHeight = 32787,
  kRotateLeft = 32788,
  kRotateRight = 32789,
  kPrint = 32790,
};

struct ToolButton {
  Command command;
  const char* label;
  const char* icon;
};

constexpr std::array<ToolButton, 12> kButtons{{
    {kZoomIn, "放大", "zoom-in.svg"},
    {kZoomOut, "縮小", "zoom-out.svg"},
    {kFirstPage, "第一頁", "chevron-left-pipe.svg"},
    {kPreviousPage, "上一頁", "chevron-left.svg"},
    {kNextPage, "下一頁", "chevron-right.svg"},
    {kLastPage, "最後頁", "chevron-right-pipe.svg"},
    {kFitWidth, "縮放至視窗寬度", "arrow-autofit-width.svg"},
    {kFitHeight, "縮放至視窗高度", "arrow-autofit-height.svg"},
    {kActualSize, "原始大小", "zoom-reset.svg"},
    {kRotateLeft, "左轉", "rotate-2.svg"},
    {kRotateRight, "右轉", "rotate-clockwise-2.svg"},
    {kPrint, "列印", "printer.svg"},
}};

}  // namespace

PDFDlg::PDFDlg(const uint8_t* pdfData, int32_t pdfLength, QWidget* parent)
    : QDialog(parent),
      m_pdfControl(new CPdfControl(this)),
      m_pdfData(pdfData),
      m_pdfLength(pdfLength),
      m_searchBar(new CPdfSearchBar(*m_pdfControl, this)),
      m_pageBar(new CPdfPageBar(*m_pdfControl, this)),
      m_body(new QSplitter(this)),
      m_outline(new CPdfOutline(*m_pdfControl, m_body)),
      m_selection(*m_pdfControl) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(QStringLiteral("電子保單內容"));
  setAccessibleName(windowTitle());
  setAccessibleDescription(QStringLiteral("保單文件的頁面與檢視工具列"));
  m_pdfControl->setAccessibleName(QStringLiteral("保單文件"));
  m_pdfControl->setAccessibleDescription(QStringLiteral("保單文件的頁面，可捲動與縮放"));
  m_pdfControl->setObjectName(QString::number(kControlId));
  m_dragEnd.setSingleShot(true);
  m_dragEnd.setInterval(kDragEndMs);
  connect(&m_dragEnd, &QTimer::timeout, this, &PDFDlg::PlaceControl);
  // Paging by keys or scrolling inside the control moves the buttons too.
  connect(m_pdfControl, &CPdfControl::CurrentPageChanged, this, &PDFDlg::UpdateNavigation);

  m_body->setAccessibleName(QStringLiteral("文件區"));
  m_body->setAccessibleDescription(QStringLiteral("文件大綱與保單頁面，中間的分隔線可拖曳調整寬度"));
  m_body->addWidget(m_outline);
  m_body->addWidget(m_pdfControl);
  m_body->setStretchFactor(1, 1);
  m_body->setCollapsible(1, false);
  // During a drag the bars keep to the bottom edge over the not yet placed
  // document area.
  m_searchBar->raise();
  m_pageBar->raise();
  connect(m_searchBar, &CPdfSearchBar::OpenChanged, this, [this] {
    PlaceBars();
    PlaceControl();
  });
  auto* find = new QAction(QStringLiteral("搜尋"), this);
  find->setShortcut(QKeySequence::Find);
  find->setShortcutContext(Qt::WindowShortcut);
  connect(find, &QAction::triggered, m_searchBar, &CPdfSearchBar::Open);
  addAction(find);
  // Tab goes the way the eye does: outline, pages, search bar, page field.
  const std::array<QWidget*, 7> tabs{m_outline,
                                     m_pdfControl,
                                     &m_searchBar->Field(),
                                     &m_searchBar->PreviousButton(),
                                     &m_searchBar->NextButton(),
                                     &m_searchBar->CloseButton(),
                                     &m_pageBar->PageField()};
  for (size_t next = 1; next < tabs.size(); ++next) setTabOrder(tabs[next - 1], tabs[next]);
}

int PDFDlg::OnInitDialog() {
  // The reader's icon, from the window that opened the viewer.
  if (parentWidget() != nullptr) setWindowIcon(parentWidget()->window()->windowIcon());
  if (!BuildToolBar()) {
    QMessageBox::information(this, QStringLiteral("資訊"), QStringLiteral("載入ToolBar失敗"));
    return kDocumentRefused;
  }
  ApplyMinimumSize();
  resize(minimumSize().expandedTo(size()));
  PlaceBars();
  PlaceControl();
  if (m_pdfData == nullptr || m_pdfLength <= 0) return kDocumentRefused;
  switch (m_pdfControl->Open(m_pdfData, static_cast<size_t>(m_pdfLength))) {
    case CPdfControl::OpenResult::kOpened:
      break;
    case CPdfControl::OpenResult::kRefused:
      return kDocumentRefused;
    case CPdfControl::OpenResult::kNoMemory:
      return kNotCreated;
  }
  UpdateNavigation();
  // A quarter of the width for the outline, when there is one.
  m_body->setSizes({width() / 4, width() - width() / 4});
  m_pdfControl->setFocus();
  return 0;
}

int PDFDlg::exec() {
  const int failed = OnInitDialog();
  return failed != 0 ? failed : QDialog::exec();
}

bool PDFDlg::BuildToolBar() {
  m_toolBar = new QToolBar(this);
  m_toolBar->setIconSize(QSize(24, 24));
  m_toolBar->setMovable(false);
  m_toolBar->setAccessibleName(QStringLiteral("檢視工具列"));
  m_toolBar->setAccessibleDescription(QStringLiteral("縮放、翻頁與列印"));
  for (const ToolButton& button : kButtons) {
    const QString icon = QStringLiteral(":/res/viewer/") + QLatin1String(button.icon);
    if (!QFile::exists(icon)) return false;
    QAction* action = m_toolBar->addAction(QIcon(icon), QString::fromUtf8(button.label));
    action->setObjectName(QString::number(button.command));
    action->setToolTip(action->text());
    const Command command = button.command;
    connect(action, &QAction::triggered, this, [this, command] {
      CPdfControl& control = *m_pdfControl;
      switch (command) {
        case kZoomIn:
          return ZoomIn();
        case kZoomOut:
          return ZoomOut();
        case kFirstPage:
          return control.GoToPage(0);
        case kPreviousPage:
          return control.GoToPage(control.CurrentPage() - 1);
        case kNextPage:
          return control.GoToPage(control.CurrentPage() + 1);
        case kLastPage:
          return control.GoToPage(control.PageCount() - 1);
        case kFitWidth:
          return control.SetZoom(CPdfControl::kFitWidth);
        case kFitHeight:
          return control.SetZoom(CPdfControl::kFitHeight);
        case kActualSize:
          return control.SetZoom(CPdfControl::kActualSize);
        case kRotateLeft:
          return Rotate(-1);
        case kRotateRight:
          return Rotate(1);
        case kPrint:
          return control.Print();
      }
    });
  }
  m_toolBar->setGeometry(0, 0, width(), m_toolbarHeight);
  return true;
}

QAction* PDFDlg::Button(int commandId) const {
  return m_toolBar == nullptr ? nullptr : m_toolBar->findChild<QAction*>(QString::number(commandId));
}

void PDFDlg::UpdateNavigation() {
  if (m_toolBar == nullptr) return;
  const int count = m_pdfControl->PageCount();
  const int current = m_pdfControl->CurrentPage();
  for (const int command : {kFirstPage, kPreviousPage}) Button(command)->setEnabled(current > 0);
  for (const int command : {kNextPage, kLastPage}) Button(command)->setEnabled(current < count - 1);
}

void PDFDlg::ZoomIn() {
  m_pdfControl->SetZoom(std::min(m_pdfControl->Zoom() + kZoomStep, CPdfControl::kMaxZoom));
}

void PDFDlg::ZoomOut() {
  // Never below the smallest percentage: values 0 to 2 would select a fit.
  const int zoom = m_pdfControl->Zoom();
  if (zoom > CPdfControl::kMinZoom) m_pdfControl->SetZoom(std::max(zoom - kZoomStep, CPdfControl::kMinZoom));
}

void PDFDlg::Rotate(int quarterTurns) {
  const int turned = m_pdfControl->Rotation() + quarterTurns;
  m_pdfControl->SetRotation(turned < 0 ? 3 : turned > 3 ? 0 : turned);
}

void PDFDlg::PlaceControl() {
  m_body->setGeometry(rect().adjusted(0, m_toolbarHeight, 0, -BarsHeight()));
}

int PDFDlg::BarsHeight() const {
  return m_pageBar->sizeHint().height() + (m_searchBar->isHidden() ? 0 : m_searchBar->sizeHint().height());
}

void PDFDlg::PlaceBars() {
  const int pageBar = m_pageBar->sizeHint().height();
  m_pageBar->setGeometry(0, height() - pageBar, width(), pageBar);
  const int searchBar = m_searchBar->sizeHint().height();
  m_searchBar->setGeometry(0, height() - pageBar - searchBar, width(), searchBar);
}

void PDFDlg::ApplyMinimumSize() {
  // The height of the work area of the dialog's screen; a portrait shape.
  if (m_workAreaBottom == 0 && screen() != nullptr) m_workAreaBottom = screen()->availableGeometry().height();
  const int frame = std::max(0, frameGeometry().height() - height());
  setMinimumSize(static_cast<int>(m_workAreaBottom * 0.7), std::max(0, m_workAreaBottom - frame));
}

void PDFDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The frame is known only once the window is shown.
  ApplyMinimumSize();
}

void PDFDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The bars are cheap to stretch; the document is re-rendered only when the
  // control moves.
  if (m_toolBar != nullptr) m_toolBar->resize(width(), m_toolbarHeight);
  PlaceBars();
  const bool maximized = windowState().testFlag(Qt::WindowMaximized);
  if (maximized || m_maximized) {
    m_maximized = maximized;
    m_dragEnd.stop();
    PlaceControl();
    return;
  }
  m_dragEnd.start();
}

}  // namespace qalv
