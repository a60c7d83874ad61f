// quv-reader: handles the registration switches, or runs the main window
// with the recent-file list loaded before and saved after.
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "platform/system_error.h"
#include "ui/opening_commands.h"
#include "ui/opening_worker.h"
#include "ui/reader_window.h"
#include "ui/res_scheme.h"
#include "ui/shell/recent_file_list.h"
#include "ui/shell/registration.h"
#include "ui/shell/saved_file.h"
#include "ui/shell/translations.h"

namespace {

// Saves the recent list (with the window's place set before) and says so
// when the settings cannot be written: they would be lost without a word.
void SaveSettings(qalv::RecentFileList& recent, QSettings& settings) {
  recent.Save(settings);
  const int failure = qalv::SaveSettings(settings);
  if (failure == 0) return;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("錯誤"),
                  QString::fromStdString(qalv::WriteFailureText(settings.fileName().toStdString(), failure)),
                  QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

class CQUVPCReaderApp {
 public:
  CQUVPCReaderApp(int& argc, char** argv) : argc_(argc), argv_(argv) {}

  int Run() {
    QStringList arguments;
    for (int i = 1; i < argc_; ++i) arguments << QString::fromLocal8Bit(argv_[i]);

    switch (qalv::ParseRegistrationSwitch(arguments)) {
      case qalv::RegistrationSwitch::Register: {
        QCoreApplication core(argc_, argv_);
        return qalv::RegisterReader(QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath());
      }
      case qalv::RegistrationSwitch::Unregister: {
        QCoreApplication core(argc_, argv_);
        return qalv::UnregisterReader();
      }
      case qalv::RegistrationSwitch::None:
        break;
    }
    return RunWindow();
  }

 private:
  int RunWindow() {
    if (geteuid() == 0) {
      // Chromium refuses to start its sandbox for root.
      qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
      std::fputs("quv-reader: running as root, the web engine's sandbox is off\n", stderr);
    }
    qalv::RegisterResScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc_, argv_);
    qalv::InstallChineseTranslations(application);
    QSettings settings(QStringLiteral("QALV"), QCoreApplication::applicationName());
    qalv::RecentFileList recent;
    recent.Load(settings);
    {
      // Qt has taken its own options (-style, -platform, ...) out by now.
      qalv::CQUVPCReaderDlg window(recent, qalv::FileArgument(QCoreApplication::arguments()));
      window.RestorePlacement(settings);
      window.exec();
      window.SavePlacement(settings);
      if (qalv::OpeningAbandoned()) {
        // An opening is still at work for the closed window: it writes
        // nothing more, and the reader waits neither for its network nor for
        // the web engine's orderly teardown.
        SaveSettings(recent, settings);
        std::fflush(nullptr);
        std::_Exit(0);
      }
    }
    SaveSettings(recent, settings);
    return 0;
  }

  int& argc_;
  char** argv_;
};

}  // namespace

int main(int argc, char** argv) {
  CQUVPCReaderApp app(argc, argv);
  return app.Run();
}
