// Fuzzes the package reader with whole files, then a second read of the same
// record's copy, which must give the same result.
#include <cstdint>
#include <cstdlib>

#include "package/tpk_package.h"
#include "platform/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = [] {
    qalv::trace::SetLogSink({});
    qalv::trace::SetDebugSink({});
    return true;
  }();
  (void)quiet;

  qalv::TpkPackage package;
  const int32_t first = qalv::ReadPackage(package, data, size);
  const int32_t again = qalv::ReadPackage(package, nullptr, 0);
  if (first != again && size != 0) std::abort();
  return 0;
}
