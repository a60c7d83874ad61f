#include "ui/opening_commands.h"

#include "ui/recent_menu.h"
#include "ui/render_policy.h"
#include "viewer/web_pdf_view.h"

namespace qalv {

bool IsPdfPath(const QString& path) { return path.right(4).toLower() == QStringLiteral(".pdf"); }

QString FileArgument(const QStringList& arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i] == u"--") return i + 1 < arguments.size() ? arguments[i + 1] : QString();
    if (!arguments[i].startsWith(u'-')) return arguments[i];
  }
  return {};
}

void InitFromCommandLine(ReaderContext& reader, const QString& path) {
  // Blanks name no file; opening one would greet the user with a read error.
  if (path.trimmed().isEmpty()) {
    RefreshRecentMenu(reader.page, reader.recent);
    return;
  }
  OpenChosenFile(reader, path);
}

void OpenChosenFile(ReaderContext& reader, const QString& chosenPath) {
  reader.policyPath = chosenPath;
  if (IsPdfPath(chosenPath)) {
    OpenPdfInBrowser(chosenPath.toStdString(), reader.workDir.toStdString(),
                     *reader.policy.ownerWindow);
    return;
  }
  RenderPolicy(reader);
  RefreshRecentMenu(reader.page, reader.recent);
}

}  // namespace qalv
