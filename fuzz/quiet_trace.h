// Fuzz targets keep the trace formatting running (it reads the parsed bytes
// too) but print nothing; the replay driver calls no initialiser, so this is
// set up on the first input.
#pragma once

#include <string_view>

#include "platform/trace.h"

namespace qalv::fuzz {

inline void QuietTrace() {
  static const bool quiet = [] {
    trace::SetLogSink([](std::string_view) {});
    trace::SetDebugSink([](std::string_view) {});
    return true;
  }();
  (void)quiet;
}

}  // namespace qalv::fuzz
