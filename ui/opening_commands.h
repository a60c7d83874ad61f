// Bringing a file into the reader: the one named on the command line, or the
// one chosen in the open dialog. A plain PDF goes to the desktop's browser,
// anything else is opened as a policy.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/reader_context.h"

namespace qalv {

// True when the path ends with ".pdf" in any letter case.
bool IsPdfPath(const QString& path);

// The file among the program's arguments (Qt's own options already taken
// out), as a file manager passes it: the first argument that is not an
// option, or the one after "--"; the rest are ignored. Empty when none.
QString FileArgument(const QStringList& arguments);

// At page load: opens the command line's file, if any, then fills the recent
// menu (not after a PDF: the reader is closing).
void InitFromCommandLine(ReaderContext& reader, const QString& path);

// After the open dialog returned `chosenPath`.
void OpenChosenFile(ReaderContext& reader, const QString& chosenPath);

}  // namespace qalv
