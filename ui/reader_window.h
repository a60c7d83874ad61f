// The reader's main window: the reader page in a web view, the bridge the
// page calls, and what the window owns for its whole life: the open path, the
// program and work folders and the one policy state.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "session/policy_state.h"
#include "ui/qt_owner_window.h"
#include "ui/reader_context.h"
#include "ui/script_bridge.h"
#include "ui/shell/recent_file_list.h"
#include "ui/signer_details_flow.h"
#include "ui/web_page_writer.h"

class QSettings;
class QWebChannel;
class QWebEngineProfile;
class QWebEngineView;

namespace qalv {

class ReaderPage;
class ResSchemeHandler;

class CQUVPCReaderDlg : public QDialog, public BridgeTarget {
  Q_OBJECT
 public:
  // `fileArgument`: the file named on the command line, if any.
  CQUVPCReaderDlg(RecentFileList& recent, QString fileArgument, QWidget* parent = nullptr);
  ~CQUVPCReaderDlg() override;

  void JsShowPdf() override;
  void JsInit() override;
  void JsOpenTpk() override;
  void JsOpenRecently(int index) override;
  void JsCopyTpk() override;
  bool JsOnlineVerify() override;
  void JsShowSignerDetails(const QString& signer) override;
  QString BridgeProperty(const QString& name) const override;
  void SetBridgeProperty(const QString& name, const QString& value) override;

  void ShowAbout();

  // Size and position: where the settings say the user left the window, or
  // its designed size, fitted to its screen either way.
  void RestorePlacement(QSettings& settings);
  void SavePlacement(QSettings& settings) const;

  // The file dialogs, replaceable so that tests can answer them. Each returns
  // the chosen path, or an empty text when the user cancelled.
  using OpenChooser = std::function<QString()>;
  using SaveChooser = std::function<QString(const QString& proposedName)>;
  void SetFileChoosers(OpenChooser open, SaveChooser save);
  // The save dialog of the signer details' exports.
  void SetExportChooser(ExportChooser choose);

  QWebEnginePage* Page() const;
  ScriptBridge& Bridge() { return *bridge_; }
  const PolicyState& Policy() const { return *m_policy; }
  const QString& PolicyPath() const { return m_policyPath; }
  const QString& WorkDir() const { return m_workDir; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private slots:
  // A file dropped on the window: a package opens as if chosen in the open
  // dialog, a PDF is handed on; anything else is ignored.
  void OpenDropped(const QString& path);

 private:
  void OnInitDialog();
  bool HandleDrop(QEvent* event);
  ReaderContext Context();
  QString ChooseOpenFile();
  QString ChooseSaveFile(const QString& proposedName);
  QString ChooseExportFile(const QString& proposedName, const QString& filter);

  QString m_policyPath;
  QString m_appDir;
  QString m_workDir;
  // Co-owned by an opening's worker while it runs.
  std::shared_ptr<PolicyState> m_policy;
  QString m_b64Data;
  QString m_dataPin;

  RecentFileList& recent_;
  const QString fileArgument_;
  // A dropped file waiting for the page's open call to take it.
  QString droppedPath_;
  bool shownBefore_ = false;
  QtOwnerWindow owner_;
  QWebEngineProfile* profile_;
  ResSchemeHandler* resHandler_;
  ReaderPage* page_;
  QWebEngineView* view_;
  QWebChannel* channel_;
  WebPageWriter writer_;
  ScriptBridge* bridge_;
  OpenChooser chooseOpen_;
  SaveChooser chooseSave_;
  ExportChooser chooseExport_;
};

}  // namespace qalv
