// The page's menu of recently opened policy files, and reopening an entry.
#pragma once

#include "ui/element_writer.h"
#include "ui/reader_context.h"
#include "ui/shell/recent_file_list.h"

namespace qalv {

// Rebuilds the menu from the list, newest first, up to the first blank slot.
// The paths go to the page as plain texts.
void RefreshRecentMenu(ElementWriter& page, const RecentFileList& recent);

// Reopens the menu's entry at `index` (its slot in the list); a path that no
// longer exists is reported and dropped from the list. An index the menu does
// not show only rebuilds the menu.
void OpenRecently(ReaderContext& reader, int index);

}  // namespace qalv
