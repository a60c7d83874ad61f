// Bringing a file into the reader: the one named on the command line, or the
// one chosen in the open dialog. A plain PDF goes to the desktop's browser,
// anything else is opened as a policy.
#pragma once

#include <QString>

#include "ui/reader_context.h"

namespace qalv {

// True when the path ends with ".pdf" in any letter case.
bool IsPdfPath(const QString& path);

// The path named by the raw command line: every double quote removed, the
// rest kept as it is.
QString CommandLinePath(const QString& rawCommandLine);

// At page load: opens the command line's file, if any, then fills the recent
// menu (not after a PDF: the reader is closing).
void InitFromCommandLine(ReaderContext& reader, const QString& rawCommandLine);

// After the open dialog returned `chosenPath`.
void OpenChosenFile(ReaderContext& reader, const QString& chosenPath);

}  // namespace qalv
