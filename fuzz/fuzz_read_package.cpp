// Fuzzes the package reader with whole files, then a second read of the same
// record's copy, which must give the same result.
#include <cstdint>
#include <cstdlib>

#include "fuzz/quiet_trace.h"
#include "package/tpk_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qalv::fuzz::QuietTrace();

  qalv::TpkPackage package;
  const int32_t first = qalv::ReadPackage(package, data, size);
  const int32_t again = qalv::ReadPackage(package, nullptr, 0);
  if (first != again && size != 0) std::abort();
  return 0;
}
