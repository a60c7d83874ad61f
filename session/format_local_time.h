// A UTC date and time as the local-time text the page shows.
#pragma once

#include <string>

#include "der/cursor.h"
#include "session/owner_window.h"

namespace qalv {

// "%Y/%m/%d %H:%M:%S" in the machine's time zone (TZ). Values that are not a
// date and time show the "時區轉換錯誤" box (no owner) through `window` and give
// "". A local year before 1900 gives the start of the epoch in local time.
[[nodiscard]] std::string FormatLocalTime(const der::Time& time, OwnerWindow* window);

}  // namespace qalv
