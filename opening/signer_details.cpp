#include "opening/signer_details.h"

#include "opening/open_policy.h"
#include "x509/signature.h"

namespace qalv {
namespace {

const char* DigestName(int32_t digestId) {
  switch (digestId) {
    case digest_id::kSha256:
      return "SHA-256";
    case digest_id::kSha1:
      return "SHA-1";
    case digest_id::kSha224:
      return "SHA-224";
    case digest_id::kMd5:
      return "MD5";
    default:
      return "";
  }
}

// Nothing for a check that did not run in the opening: it did not fail.
void AddCertificateReasons(const std::optional<CertificateWalk>& check,
                           std::vector<std::string>& reasons) {
  if (!check) return;
  if (check->flags == -1) {
    reasons.emplace_back(signer_reason::kNoChain);
    return;
  }
  static constexpr struct {
    int32_t flag;
    const char* text;
  } kFlags[] = {{CERT_EXPIRED, signer_reason::kExpired},
                {CERT_ISSUER_UNVERIFIED, signer_reason::kIssuerUnverified},
                {CERT_NO_ROOT, signer_reason::kNoTrustedRoot},
                {CERT_NOT_AUTHORITY, signer_reason::kNotAuthority}};
  for (const auto& f : kFlags) {
    if ((check->flags & f.flag) != 0) reasons.emplace_back(f.text);
  }
}

// The opening puts a changed cipher or snapshot into the s3 result, since
// their digests lie inside what s3 certifies.
void AddSignatureReason(int32_t signResult, std::vector<std::string>& reasons) {
  switch (signResult) {
    case -1:  // not evaluated
    case 0:
      return;
    case status::kCipherChanged:
      reasons.emplace_back(signer_reason::kCipherChanged);
      return;
    case status::kSnapshotChanged:
      reasons.emplace_back(signer_reason::kSnapshotChanged);
      return;
    default:
      reasons.emplace_back(signer_reason::kSignatureMismatch);
  }
}

}  // namespace

PolicySigners DescribeSigners(const PolicyState& state) {
  const struct {
    SignerRecord PolicyState::*record;
    int32_t PolicyState::*certResult;
    int32_t PolicyState::*signResult;
    std::optional<SignerDetails> PolicySigners::*details;
  } roles[] = {
      {&PolicyState::s1Signer, &PolicyState::s1CertResult, &PolicyState::s1SignResult,
       &PolicySigners::s1},
      {&PolicyState::s2Signer, &PolicyState::s2CertResult, &PolicyState::s2SignResult,
       &PolicySigners::s2},
      {&PolicyState::s3Signer, &PolicyState::s3CertResult, &PolicyState::s3SignResult,
       &PolicySigners::s3},
  };
  PolicySigners signers;
  for (const auto& role : roles) {
    const SignerRecord& record = state.*role.record;
    if (!record.certificate) continue;
    SignerDetails& details = (signers.*role.details).emplace();
    details.certificate = *record.certificate;
    details.digest = DigestName(record.digestId);
    if (record.check) details.path = record.check->path;
    details.certResult = state.*role.certResult;
    details.signResult = state.*role.signResult;
    AddCertificateReasons(record.check, details.reasons);
    AddSignatureReason(details.signResult, details.reasons);
  }
  return signers;
}

}  // namespace qalv
