// Who signed a policy package and why each of the checks on its signatures
// passed or failed, one record per signature, as the last opening left them
// in the policy state. The core decides the reasons; the windows and tpk only
// present them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/policy_state.h"
#include "x509/certificate_check.h"
#include "x509/certificate_summary.h"

namespace qalv {

// The sentences that say why a check failed.
namespace signer_reason {
inline constexpr char kNoChain[] = "沒有可用的憑證鏈：無法取得，或無法連結至信任的根憑證";
inline constexpr char kExpired[] = "簽署者的憑證已過期";
inline constexpr char kIssuerUnverified[] = "無法驗證憑證的簽發者";
inline constexpr char kNoTrustedRoot[] = "憑證未連結至信任的根憑證";
inline constexpr char kNotAuthority[] = "此憑證不是憑證管理中心的簽章憑證";
inline constexpr char kSignatureMismatch[] = "簽章與所簽署的資料不符";
inline constexpr char kCipherChanged[] = "密文已被修改，與所簽署的摘要不符";
inline constexpr char kSnapshotChanged[] = "截圖已被修改，與所簽署的摘要不符";
}  // namespace signer_reason

struct SignerDetails {
  // Subject, issuer, serial, validity, key size and fingerprint.
  CertificateSummary certificate;
  // "SHA-256", "SHA-1", "SHA-224" or "MD5"; "" when the signature was not
  // evaluated or named none of these.
  std::string digest;
  // The certificate check's walk, the signer first and where it ended last;
  // empty when no chain was available or the check did not run.
  std::vector<PathStep> path;
  // The policy state's codes for this signature.
  int32_t certResult = -1;
  int32_t signResult = -1;
  // One sentence of signer_reason per failed check; empty when every check
  // that ran passed.
  std::vector<std::string> reasons;
};

struct PolicySigners {
  std::optional<SignerDetails> s1;  // the policy content, signed by the insurer
  std::optional<SignerDetails> s2;  // the policy package, signed by the insurer
  std::optional<SignerDetails> s3;  // the certification authority's
};

// The signers of the package opened last; a signer is absent when the
// package reader did not read its certificate (the file could not be read or
// was refused).
PolicySigners DescribeSigners(const PolicyState& state);

}  // namespace qalv
