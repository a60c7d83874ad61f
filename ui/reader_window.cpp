#include "ui/reader_window.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "platform/file_io.h"
#include "ui/backup_copy.h"
#include "ui/online_verification_flow.h"
#include "ui/opening_commands.h"
#include "ui/reader_page.h"
#include "ui/recent_menu.h"
#include "ui/request_filter.h"
#include "ui/res_scheme.h"
#include "ui/shell/about_dialog.h"
#include "ui/shell/dialog_units.h"
#include "ui/shell/reader_version.h"
#include "ui/shell/registration.h"
#include "ui/wiped_text.h"
#include "viewer/pdf_dialog.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

const QString kErrorCaption = QStringLiteral("錯誤");

bool IsSwallowedKey(const QKeyEvent& key) {
  switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
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
void CopyWhenAbsent(const std::filesystem::path& source, const std::filesystem::path& target) {
  std::error_code error;
  if (std::filesystem::symlink_status(target, error).type() ==
      std::filesystem::file_type::regular) {
    return;
  }
  SecureBuffer bytes;
  if (ReadWholeFile(source, bytes) != 0) return;
  static_cast<void>(WritePrivateFile(target, bytes.data(), bytes.size()));
}

}  // namespace

CQUVPCReaderDlg::CQUVPCReaderDlg(RecentFileList& recent, QString commandLine, QWidget* parent)
    : QDialog(parent),
      recent_(recent),
      commandLine_(std::move(commandLine)),
      owner_(this, [this] { QTimer::singleShot(0, this, &QDialog::reject); }),
      profile_(new QWebEngineProfile(this)),
      resHandler_(new ResSchemeHandler(this)),
      page_(new ReaderPage(profile_, this)),
      view_(new QWebEngineView(this)),
      channel_(new QWebChannel(this)),
      writer_(page_),
      bridge_(new ScriptBridge(*this, writer_, this)),
      chooseOpen_([this] { return ChooseOpenFile(); }),
      chooseSave_([this](const QString& proposed) { return ChooseSaveFile(proposed); }) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  QFont font(QStringLiteral("新細明體"), 9);
  setFont(font);
  setFixedSize(DialogUnits(QFontMetrics(font)).Size(585, 449));
  setWindowIcon(QIcon(kReaderIconResource));

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
    owner_.ShowMessage({kErrorCaption.toStdString(), error.message(), OwnerWindow::Icon::kWarning});
  }
  for (const char* name : {"webPdf.htm", "index.bundle.js"}) {
    CopyWhenAbsent(m_appDir.toStdString() + name, m_workDir.toStdString() + name);
  }
  resHandler_->SetWorkFolder(m_workDir);

  m_policy.ownerWindow = &owner_;
  m_policy.programFolder = m_appDir.toStdString();
  m_policy.trust = std::make_shared<const TrustAnchors>(
      LoadTrustAnchors(TrustFolders(std::nullopt, m_policy.programFolder)));
  m_policy.workFolder = m_workDir.toStdString();
  m_policy.readerVersion = GetReaderVersion().toStdString();
  setWindowTitle(QStringLiteral("QALV 電子保單瀏覽器 版本 ") + GetReaderVersion());
}

ReaderContext CQUVPCReaderDlg::Context() {
  return {writer_, m_policy, recent_, m_policyPath, m_b64Data, m_dataPin, m_workDir};
}

void CQUVPCReaderDlg::JsShowPdf() {
  // Only a document decrypted by the last opening is offered, and never more
  // bytes than the buffer holds.
  if (m_policy.decryptState != 0 || m_policy.pdfLength <= 0 ||
      static_cast<size_t>(m_policy.pdfLength) > m_policy.pdfData.size()) {
    return;
  }
  PDFDlg viewer(m_policy.pdfData.data(), m_policy.pdfLength, this);
  const int result = viewer.exec();
  if (result == PDFDlg::kDocumentRefused) {
    owner_.ShowMessage({kErrorCaption.toStdString(), "PDF資料有誤無法開啟"});
  } else if (result == PDFDlg::kNotCreated) {
    owner_.ShowMessage({kErrorCaption.toStdString(), "系統錯誤，請重新安裝程式"});
  }
}

void CQUVPCReaderDlg::JsInit() {
  ReaderContext context = Context();
  InitFromCommandLine(context, commandLine_);
}

void CQUVPCReaderDlg::JsOpenTpk() {
  const QString chosen = chooseOpen_();
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

QString CQUVPCReaderDlg::ChooseSaveFile(const QString& proposedName) {
  QFileDialog dialog(this, QStringLiteral("另存新檔"), QString(), QStringLiteral("電子保單(*.tpk)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("tpk"));
  dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

bool CQUVPCReaderDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  const auto& key = static_cast<const QKeyEvent&>(*event);
  if (event->type() == QEvent::KeyPress && key.key() == Qt::Key_F1 && key.modifiers() == Qt::NoModifier) {
    ShowAbout();
    return true;
  }
  return IsSwallowedKey(key);
}

}  // namespace qalv
