#include "ui/shell/translations.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qalv {

bool InstallChineseTranslations(QCoreApplication& application) {
  const QLocale taiwan(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
  QLocale::setDefault(taiwan);
  // "qt" is the catalogue that pulls in qtbase's and the other modules' own.
  auto* translator = new QTranslator(&application);
  if (!translator->load(taiwan, QStringLiteral("qt"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace qalv
