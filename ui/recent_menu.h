// The page's menu of recently opened policy files, and reopening an entry.
#pragma once

#include <QString>

#include "app/recent_file_list.h"
#include "ui/element_writer.h"
#include "ui/reader_context.h"

namespace qalv {

// Rebuilds the menu from the list, newest first, up to the first blank slot.
void RefreshRecentMenu(ElementWriter& page, const RecentFileList& recent);

// Reopens the entry whose item markup the page hands back (the item's inner
// HTML); a path that no longer exists is reported and dropped from the list.
void OpenRecently(ReaderContext& reader, const QString& itemHtml);

}  // namespace qalv
