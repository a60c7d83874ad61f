// quv-reader: handles the registration switches, or runs the main window
// with the recent-file list loaded before and saved after.
#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

#include "ui/reader_window.h"
#include "ui/res_scheme.h"
#include "ui/shell/recent_file_list.h"
#include "ui/shell/registration.h"

namespace {

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
    return RunWindow(arguments.join(u' '));
  }

 private:
  int RunWindow(const QString& commandLine) {
    if (geteuid() == 0) {
      // Chromium refuses to start its sandbox for root.
      qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
      std::fputs("quv-reader: running as root, the web engine's sandbox is off\n", stderr);
    }
    qalv::RegisterResScheme();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc_, argv_);
    QSettings settings(QStringLiteral("QALV"), QCoreApplication::applicationName());
    qalv::RecentFileList recent;
    recent.Load(settings);
    {
      qalv::CQUVPCReaderDlg window(recent, commandLine);
      window.exec();
    }
    recent.Save(settings);
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
