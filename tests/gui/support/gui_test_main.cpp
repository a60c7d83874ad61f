// Runs a window test program: offscreen drawing unless a display is asked for,
// the tests' trust folder unless another is named, the res: scheme registered
// before the application object and Qt's Chinese texts loaded, as the reader
// does.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/res_scheme.h"
#include "ui/shell/translations.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  if (qEnvironmentVariableIsEmpty("QALV_TRUST_DIR")) qputenv("QALV_TRUST_DIR", QALV_TEST_TRUST_DIR);
  testing::InitGoogleTest(&argc, argv);
  qalv::RegisterResScheme();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  qalv::InstallChineseTranslations(app);
  return RUN_ALL_TESTS();
}
