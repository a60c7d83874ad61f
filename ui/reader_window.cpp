#include "ui/reader_window.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/file_io.h"
#include "platform/system_error.h"
#include "ui/backup_copy.h"
#include "ui/online_verification_flow.h"
#include "ui/opening_commands.h"
#include "ui/opening_worker.h"
#include "ui/reader_page.h"
#include "ui/recent_menu.h"
#include "ui/request_filter.h"
#include "ui/res_scheme.h"
#include "ui/shell/about_dialog.h"
#include "ui/shell/dialog_units.h"
#include "ui/shell/reader_version.h"
#include "ui/shell/registration.h"
#include "ui/shell/window_placement.h"
#include "ui/signer_details_flow.h"
#include "ui/wiped_text.h"
#include "viewer/pdf_dialog.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

const QString kErrorCaption = QStringLiteral("錯誤");

// Small enough to fit a 1024×600 screen with a panel and a title bar.
constexpr QSize kMinimumSize(900, 480);

// The page's font: 新細明體 where it is installed, Noto Sans CJK TC (its
// stand-in on Linux) otherwise.
QFont PageFont() {
  QFont font(QStringLiteral("新細明體"), 9);
  font.setFamilies({QStringLiteral("新細明體"), QStringLiteral("Noto Sans CJK TC")});
  return font;
}

// The window's designed inner size in dialog units of the page's font.
QSize DesignedSize() { return DialogUnits(QFontMetrics(PageFont())).Size(585, 449); }

// The one local file a drag carries, when it is a package or a PDF.
QString DroppedFile(const QMimeData* data) {
  if (data == nullptr || data->urls().size() != 1 || !data->urls().first().isLocalFile()) return {};
  const QString path = data->urls().first().toLocalFile();
  return path.endsWith(QStringLiteral(".tpk"), Qt::CaseInsensitive) || IsPdfPath(path) ? path : QString();
}

// Keys the page never sees. Return, Enter and Escape do reach it (they work
// its buttons, menu and tree from the keyboard); the window itself ignores
// them, so they never close it.
bool IsSwallowedKey(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_F5:
      return true;
    case Qt::Key_F:
    case Qt::Key_N:
      return key.modifiers().testFlag(Qt::ControlModifier);
    default:
      return false;
  }
}

// The web PDF files are copied into the work folder once; anything at the
// name that is not a plain file (a link above all) is replaced, not followed.
// 0, or the errno of a failed write (nothing is left at the name then, so the
// next start copies again).
int CopyWhenAbsent(const std::filesystem::path& source, const std::filesystem::path& target) {
  std::error_code error;
  if (std::filesystem::symlink_status(target, error).type() ==
      std::filesystem::file_type::regular) {
    return 0;
  }
  SecureBuffer bytes;
  if (ReadWholeFile(source, bytes) != 0) return 0;
  return WritePrivateFile(target, bytes.data(), bytes.size()) == 0 ? 0 : errno;
}

}  // namespace

CQUVPCReaderDlg::CQUVPCReaderDlg(RecentFileList& recent, QString fileArgument, QWidget* parent)
    : QDialog(parent),
      m_policy(std::make_shared<PolicyState>()),
      recent_(recent),
      fileArgument_(std::move(fileArgument)),
      owner_(this, [this] { QTimer::singleShot(0, this, &QDialog::reject); }),
      profile_(new QWebEngineProfile(this)),
      resHandler_(new ResSchemeHandler(this)),
      page_(new ReaderPage(profile_, this)),
      view_(new QWebEngineView(this)),
      channel_(new QWebChannel(this)),
      writer_(page_),
      bridge_(new ScriptBridge(*this, writer_, this)),
      chooseOpen_([this] { return ChooseOpenFile(); }),
      chooseSave_([this](const QString& proposed) { return ChooseSaveFile(proposed); }),
      chooseExport_([this](const QString& proposed, const QString& filter) {
        return ChooseExportFile(proposed, filter);
      }) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setFont(PageFont());
  setMinimumSize(kMinimumSize);
  setSizeGripEnabled(true);
  PlaceWindow(*this, QRect(), DesignedSize());
  setWindowIcon(QIcon(kReaderIconResource));
  setAccessibleName(QStringLiteral("QALV 電子保單瀏覽器"));
  setAccessibleDescription(QStringLiteral("電子保單的驗證結果與預覽"));
  view_->setAccessibleName(QStringLiteral("電子保單驗證結果"));
  view_->setAccessibleDescription(
      QStringLiteral("功能選單、保單狀態、保單預覽與本地及線上驗證結果"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  view_->setContextMenuPolicy(Qt::NoContextMenu);

  // The page loads from its own scheme only, and never reads a file itself:
  // the package's pictures come through the scheme as well.
  profile_->installUrlSchemeHandler("res", resHandler_);
  profile_->setUrlRequestInterceptor(new RequestFilter({QStringLiteral("res")}, profile_));
  QWebEngineSettings* settings = page_->settings();
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  channel_->registerObject(QStringLiteral("bridge"), bridge_);
  page_->setWebChannel(channel_);
  view_->setPage(page_);
  qApp->installEventFilter(this);

  OnInitDialog();
  page_->load(ReaderPage::Address());
  view_->setFocus();
}

CQUVPCReaderDlg::~CQUVPCReaderDlg() {
  qApp->removeEventFilter(this);
  // The page must go before its profile.
  delete view_;
  delete page_;
}

void CQUVPCReaderDlg::OnInitDialog() {
  const QString appDir = QCoreApplication::applicationDirPath();
  if (!appDir.isEmpty()) m_appDir = appDir + u'/';
  if (m_appDir.isEmpty()) {
    owner_.ShowMessage({kErrorCaption.toStdString(), "無法讀取程式執行位置"});
  }

  m_workDir = QDir::homePath() + QStringLiteral("/qalvquv/");
  std::error_code error;
  if (CreatePrivateFolder(m_workDir.toStdString(), error) != 0) {
    owner_.ShowMessage({kErrorCaption.toStdString(), SystemErrorText(error.value()),
                        OwnerWindow::Icon::kWarning});
  }
  // Beside the executable in the build tree, under share/qalv when installed.
  const std::filesystem::path programFolder = m_appDir.toStdString();
  for (const char* name : {"webPdf.htm", "index.bundle.js"}) {
    std::filesystem::path source = programFolder / name;
    if (!std::filesystem::exists(source, error)) source = InstalledDataFolder(programFolder) / name;
    const std::string target = m_workDir.toStdString() + name;
    if (const int failure = CopyWhenAbsent(source, target)) {
      owner_.ShowMessage({kErrorCaption.toStdString(), WriteFailureText(target, failure),
                          OwnerWindow::Icon::kWarning});
    }
  }
  resHandler_->SetWorkFolder(m_workDir);

  m_policy->ownerWindow = &owner_;
  m_policy->programFolder = m_appDir.toStdString();
  m_policy->trust = std::make_shared<const TrustAnchors>(
      LoadTrustAnchors(TrustFolders(std::nullopt, m_policy->programFolder)));
  m_policy->workFolder = m_workDir.toStdString();
  m_policy->readerVersion = GetReaderVersion().toStdString();
  setWindowTitle(QStringLiteral("QALV 電子保單瀏覽器 版本 ") + GetReaderVersion());
}

ReaderContext CQUVPCReaderDlg::Context() {
  return {writer_, *m_policy, recent_, m_policyPath, m_b64Data, m_dataPin, m_workDir,
          [this](const std::filesystem::path& path) { return OpenPolicyOffThread(m_policy, path, *this); }};
}

void CQUVPCReaderDlg::JsShowPdf() {
  // Only a document decrypted by the last opening is offered, and never more
  // bytes than the buffer holds.
  const PolicyState& policy = *m_policy;
  if (policy.decryptState != 0 || policy.pdfLength <= 0 ||
      static_cast<size_t>(policy.pdfLength) > policy.pdfData.size()) {
    return;
  }
  PDFDlg viewer(policy.pdfData.data(), policy.pdfLength, this);
  const int result = viewer.exec();
  if (result == PDFDlg::kDocumentRefused) {
    owner_.ShowMessage({kErrorCaption.toStdString(), "PDF資料有誤無法開啟"});
  } else if (result == PDFDlg::kNotCreated) {
    owner_.ShowMessage({kErrorCaption.toStdString(), "系統錯誤，請重新安裝程式"});
  }
}

void CQUVPCReaderDlg::JsInit() {
  ReaderContext context = Context();
  InitFromCommandLine(context, fileArgument_);
}

void CQUVPCReaderDlg::JsOpenTpk() {
  QString chosen = std::exchange(droppedPath_, QString());
  if (chosen.isEmpty()) chosen = chooseOpen_();
  if (chosen.isEmpty()) return;
  ReaderContext context = Context();
  OpenChosenFile(context, chosen);
}

void CQUVPCReaderDlg::JsOpenRecently(int index) {
  ReaderContext context = Context();
  OpenRecently(context, index);
}

void CQUVPCReaderDlg::JsCopyTpk() {
  ReaderContext context = Context();
  CopyTpk(context, chooseSave_);
}

bool CQUVPCReaderDlg::JsOnlineVerify() {
  ReaderContext context = Context();
  return RunOnlineVerification(context, this);
}

void CQUVPCReaderDlg::JsShowSignerDetails(const QString& signer) {
  ShowSignerDetails(*m_policy, m_policyPath, *page_, signer, chooseExport_, this);
}

QString CQUVPCReaderDlg::BridgeProperty(const QString& name) const {
  return name == u"m_b64Data" ? m_b64Data : m_dataPin;
}

void CQUVPCReaderDlg::SetBridgeProperty(const QString& name, const QString& value) {
  QString& property = name == u"m_b64Data" ? m_b64Data : m_dataPin;
  WipeText(property);
  property = value;
}

void CQUVPCReaderDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CQUVPCReaderDlg::RestorePlacement(QSettings& settings) {
  PlaceWindow(*this, StoredFrame(settings), DesignedSize());
}

void CQUVPCReaderDlg::SavePlacement(QSettings& settings) const { qalv::SavePlacement(*this, settings); }

void CQUVPCReaderDlg::OpenDropped(const QString& path) {
  droppedPath_ = path;
  // Through the page, so the drop waits its turn behind a call under way and
  // the page shows its busy mask as for the open button.
  page_->runJavaScript(QStringLiteral("openTpk()"));
}

void CQUVPCReaderDlg::SetExportChooser(ExportChooser choose) { chooseExport_ = std::move(choose); }

void CQUVPCReaderDlg::SetFileChoosers(OpenChooser open, SaveChooser save) {
  chooseOpen_ = std::move(open);
  chooseSave_ = std::move(save);
}

QWebEnginePage* CQUVPCReaderDlg::Page() const { return page_; }

QString CQUVPCReaderDlg::ChooseOpenFile() {
  QFileDialog dialog(this, QStringLiteral("開啟保單"), QString(), QStringLiteral("電子保單(*.tpk *.pdf)"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix(QStringLiteral("tpk"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString CQUVPCReaderDlg::ChooseExportFile(const QString& proposedName, const QString& filter) {
  QFileDialog dialog(this, QStringLiteral("另存新檔"), QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString CQUVPCReaderDlg::ChooseSaveFile(const QString& proposedName) {
  QFileDialog dialog(this, QStringLiteral("另存新檔"), QString(), QStringLiteral("電子保單(*.tpk)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("tpk"));
  dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

void CQUVPCReaderDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (std::exchange(shownBefore_, true)) return;
  // The frame the desktop puts around the window is known only now: fit the
  // window again with it, once the frame is in place.
  QTimer::singleShot(0, this, [this] { PlaceWindow(*this, frameGeometry(), DesignedSize()); });
}

void CQUVPCReaderDlg::keyPressEvent(QKeyEvent* event) {
  // The page passes on the keys it does not use; a dialog would close on
  // Escape and press its default button on Enter.
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

bool CQUVPCReaderDlg::HandleDrop(QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (DroppedFile(drag->mimeData()).isEmpty()) {
        drag->ignore();
      } else {
        drag->acceptProposedAction();
      }
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = DroppedFile(drop->mimeData());
      if (path.isEmpty()) {
        drop->ignore();
      } else {
        drop->acceptProposedAction();
        // Queued: the drag's source waits for the drop to return.
        QMetaObject::invokeMethod(this, "OpenDropped", Qt::QueuedConnection, Q_ARG(QString, path));
      }
      return true;
    }
    case QEvent::DragLeave:
      return true;
    default:
      return false;
  }
}

bool CQUVPCReaderDlg::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  // The page never takes a drop itself: it would try to show the file.
  if (HandleDrop(event)) return true;
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
  const auto& key = static_cast<const QKeyEvent&>(*event);
  if (event->type() == QEvent::KeyPress && key.key() == Qt::Key_F1 && key.modifiers() == Qt::NoModifier) {
    ShowAbout();
    return true;
  }
  return IsSwallowedKey(key);
}

}  // namespace qalv
