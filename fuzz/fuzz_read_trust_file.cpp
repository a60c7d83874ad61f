// The trust-file reader on arbitrary bytes, as a PEM bundle and as a
// one-certificate file: a file is taken whole or not at all, a bundle gives
// at least one certificate, a single file exactly one.
#include <cstddef>
#include <cstdint>

#include "fuzz/quiet_trace.h"
#include "x509/trust_anchors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qalv::fuzz::QuietTrace();

  for (const qalv::TrustFileKind kind :
       {qalv::TrustFileKind::kPemBundle, qalv::TrustFileKind::kSingle}) {
    qalv::CertificateList list;
    const int32_t result = qalv::ReadTrustFile(data, size, kind, list);
    if (result != 0 && !list.empty()) __builtin_trap();
    if (result == 0 && list.empty()) __builtin_trap();
    if (result == 0 && kind == qalv::TrustFileKind::kSingle && list.size() != 1) __builtin_trap();
    for (const qalv::X509Certificate& cert : list) {
      if (!qalv::MatchesTrusted(cert, list)) __builtin_trap();
    }
  }
  return 0;
}
