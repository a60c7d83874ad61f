// The X.509 reader on arbitrary bytes, DER or Base64 text alike. The same
// bytes are read twice into one list: the second read must give the same
// answer, appending behind the first record or leaving the list untouched.
// An accepted certificate's summary must be text that can be shown: valid
// UTF-8 names and a whole fingerprint.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/quiet_trace.h"
#include "platform/code_page.h"
#include "x509/certificate.h"
#include "x509/certificate_summary.h"

namespace {

bool ShowableName(const qalv::NameText& name) {
  for (const qalv::NameAttribute& attribute : name) {
    const auto* value = reinterpret_cast<const uint8_t*>(attribute.value.data());
    if (!qalv::IsValidUtf8(std::span(value, attribute.value.size()))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qalv::fuzz::QuietTrace();

  qalv::CertificateList list;
  const int32_t first = qalv::ParseCertificate(list, data, size);
  const size_t kept = first == 0 ? 1 : 0;
  if (list.size() != kept) __builtin_trap();
  const int32_t second = qalv::ParseCertificate(list, data, size);
  if (second != first || list.size() != 2 * kept) __builtin_trap();
  if (first == 0) {
    const qalv::CertificateSummary summary = qalv::SummarizeCertificate(list.front());
    if (!ShowableName(summary.subject) || !ShowableName(summary.issuer)) __builtin_trap();
    if (summary.sha256Fingerprint.size() != 64) __builtin_trap();
  }
  qalv::FreeCertificateList(list);
  if (!list.empty()) __builtin_trap();
  return 0;
}
