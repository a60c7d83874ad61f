// The X.509 reader on arbitrary bytes, DER or Base64 text alike. The same
// bytes are read twice into one list: the second read must give the same
// answer, appending behind the first record or leaving the list untouched.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/quiet_trace.h"
#include "x509/certificate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qalv::fuzz::QuietTrace();

  qalv::CertificateList list;
  const int32_t first = qalv::ParseCertificate(list, data, size);
  const size_t kept = first == 0 ? 1 : 0;
  if (list.size() != kept) __builtin_trap();
  const int32_t second = qalv::ParseCertificate(list, data, size);
  if (second != first || list.size() != 2 * kept) __builtin_trap();
  qalv::FreeCertificateList(list);
  if (!list.empty()) __builtin_trap();
  return 0;
}
