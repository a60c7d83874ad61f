// The application every benchmark of the reader window runs in: the web
// engine's sandbox off (offscreen runs have none to offer), the test PKI
// trusted through the reader's own lookup, the page's res: scheme registered
// and OpenGL contexts shared as the web engine needs before the application
// exists, and the log silenced so that it costs nothing being measured.
#pragma once

#include <QApplication>
#include <QByteArray>

#include "platform/trace.h"
#include "tests/support/fixtures.h"
#include "ui/res_scheme.h"

namespace qalv::bench {

class WindowBenchApp {
 public:
  WindowBenchApp(int& argc, char** argv) : application_(argc, argv) { trace::SetLogSink({}); }

 private:
  // What must be in place before the QApplication is made.
  struct BeforeApplication {
    BeforeApplication() {
      qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
      qputenv("QALV_TRUST_DIR", QByteArray::fromStdString(test::SharedTrustDir().string()));
      RegisterResScheme();
      QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    }
  };

  BeforeApplication before_;
  QApplication application_;
};

}  // namespace qalv::bench
