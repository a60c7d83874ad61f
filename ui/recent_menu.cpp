#include "ui/recent_menu.h"

#include <QFileInfo>
#include <QStringList>

#include "ui/render_policy.h"

namespace qalv {
namespace {

// The entries the menu shows: the slots up to the first blank one.
QStringList MenuEntries(const RecentFileList& recent) {
  QStringList entries;
  for (std::size_t i = 0; i < RecentFileList::kSlots; ++i) {
    const QString& path = recent.Slot(i);
    if (path.trimmed().isEmpty()) break;
    entries.append(path);
  }
  return entries;
}

}  // namespace

void RefreshRecentMenu(ElementWriter& page, const RecentFileList& recent) {
  page.SetMenuItems("menuPad", MenuEntries(recent));
}

void OpenRecently(ReaderContext& reader, int index) {
  if (index >= 0 && index < MenuEntries(reader.recent).size()) {
    const QString path = reader.recent.Slot(static_cast<std::size_t>(index));
    if (QFileInfo::exists(path)) {
      reader.policyPath = path;
      RenderPolicy(reader);
    } else {
      reader.policy.ownerWindow->ShowMessage(
          {"資訊", (path + QString::fromUtf8("不存在或無法存取。")).toStdString(),
           OwnerWindow::Icon::kInformation, OwnerWindow::Buttons::kOk});
      reader.recent.Remove(static_cast<std::size_t>(index));
    }
  }
  RefreshRecentMenu(reader.page, reader.recent);
}

}  // namespace qalv
