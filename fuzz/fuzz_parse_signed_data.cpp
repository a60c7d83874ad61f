// The CA chain reader on arbitrary bytes, DER or Base64 text alike, the
// certificate check of every certificate it read against the whole list
// (which also serves as the anchors), and the chain store's test of the
// chain under each certificate's key identifier: the walks must end and give
// only the three flags, however the certificates name and sign each other,
// and the path a walk leaves must start at the certificate checked and end at
// an anchor exactly when the flags say it is rooted.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "fuzz/quiet_trace.h"
#include "x509/certificate_check.h"
#include "x509/signed_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qalv::fuzz::QuietTrace();

  qalv::SignedDataRecord record;
  const int32_t result = qalv::ParseSignedData(record, data, size);
  if (result < 0) __builtin_trap();
  // A fixed date keeps a replayed input's outcome the same on every day.
  constexpr qalv::CivilDate kToday{2030, 6, 15};
  constexpr int32_t kAllFlags =
      qalv::CERT_EXPIRED | qalv::CERT_ISSUER_UNVERIFIED | qalv::CERT_NO_ROOT;
  const std::span<const qalv::X509Certificate> all(record.certificates);
  for (size_t i = 0; i < all.size(); ++i) {
    qalv::CertificateWalk walk;
    const int32_t flags = qalv::CheckCertificate(all.subspan(i), record.certificates,
                                                 record.certificates, kToday, &walk);
    if ((flags & ~kAllFlags) != 0 || walk.flags != flags || walk.path.empty()) __builtin_trap();
    if (walk.path.front().certificate.sha256Fingerprint !=
        qalv::SummarizeCertificate(all[i]).sha256Fingerprint) {
      __builtin_trap();
    }
    if (walk.path.back().anchor != ((flags & qalv::CERT_NO_ROOT) == 0)) __builtin_trap();
    const qalv::der::Bytes keyId = all[i].subjectKeyId;
    const bool leads =
        qalv::ChainLeadsToAnchor(record.certificates, keyId, record.certificates);
    // A chain leading nowhere cannot do so without a certificate to start at.
    if (leads && keyId.empty()) __builtin_trap();
  }
  return 0;
}
