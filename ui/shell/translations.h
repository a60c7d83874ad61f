// Qt's own texts (the file and print dialogs, standard buttons, edit menus)
// in Traditional Chinese, like every text of the reader.
#pragma once

#include <QCoreApplication>

namespace qalv {

// Loads Qt's Traditional Chinese catalogue into `application` and makes
// Taiwan's locale the default. False when the catalogue is missing: Qt then
// speaks English in its own dialogs, and the reader still works.
bool InstallChineseTranslations(QCoreApplication& application);

}  // namespace qalv
