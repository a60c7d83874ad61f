#include "opening/open_policy.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include <mbedtls/platform_util.h>
#include <mbedtls/sha256.h>

#include "net/update_offer.h"
#include "opening/ca_chain_store.h"
#include "package/decryption.h"
#include "package/tpk_package.h"
#include "platform/code_page.h"
#include "platform/file_io.h"
#include "platform/system_error.h"
#include "session/format_local_time.h"
#include "x509/certificate_summary.h"
#include "x509/signature.h"
#include "x509/trust_anchors.h"

namespace qalv {
namespace {

constexpr size_t kDigestLength = 32;

void SetStatus(PolicyState& state, int32_t code, std::string text) {
  state.statusCode = code;
  state.statusText = std::move(text);
}

const char* StatusText(int32_t code) {
  switch (code) {
    case status::kUnreadable:
      return "讀取電子保單資料錯誤";
    case status::kMalformed:
      return "電子保單資料格式錯誤";
    case status::kCertificates:
      return "憑證驗證不合格";
    case status::kS3Signature:
    case status::kS2Signature:
    case status::kS1Signature:
      return "簽章有問題";
    case status::kCipherChanged:
      return "密文被修改";
    case status::kSnapshotChanged:
      return "截圖被修改";
    default:
      return "";
  }
}

void SetStatus(PolicyState& state, int32_t code) { SetStatus(state, code, StatusText(code)); }

void ResetResults(PolicyState& state) {
  for (int32_t* result : {&state.parseResult, &state.s3SignResult, &state.s2SignResult,
                          &state.s1SignResult, &state.s3CertResult, &state.s2CertResult,
                          &state.s1CertResult, &state.decryptState}) {
    *result = -1;
  }
  SetStatus(state, 0, "");
  state.chainsFetched.clear();
  state.packageSha256.clear();
  for (SignerRecord* signer : {&state.s1Signer, &state.s2Signer, &state.s3Signer}) *signer = {};
}

std::string StoredTime(const der::Time& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

void CopyTimes(PolicyState& state, const TpkPackage& package) {
  const IpkData& ipk = package.ipkData;
  state.s1CertNotAfter = StoredTime(ipk.s1Certificate.front().validTo);
  state.s2CertNotAfter = StoredTime(ipk.s2Certificate.front().validTo);
  state.s3CertNotAfter =
      FormatLocalTime(package.s3Certificate.front().validTo, state.ownerWindow);
  state.ipkSignTime = FormatLocalTime(ipk.ipkSignTime, state.ownerWindow);
  state.tpkSignTime = FormatLocalTime(package.tpkSignTime, state.ownerWindow);
}

void RecordSignerCertificates(PolicyState& state, const TpkPackage& package) {
  const std::pair<SignerRecord*, const CertificateList*> signers[] = {
      {&state.s1Signer, &package.ipkData.s1Certificate},
      {&state.s2Signer, &package.ipkData.s2Certificate},
      {&state.s3Signer, &package.s3Certificate}};
  for (const auto& [signer, list] : signers) {
    const X509Certificate& cert = list->front();
    signer->certificate = SummarizeCertificate(cert);
    signer->der.assign(cert.raw.begin(), cert.raw.end());
  }
}

// The insurer's texts are UTF-8; the identifiers, addresses and versions are
// read in the system code page (code page 950), as they always have been.
void CopyVersionInfo(PolicyState& state, const VersionInfo& info) {
  state.uniqueSerial = Cp950Text(info.uniqueSerial);
  state.batchNumber = Cp950Text(info.batchNumber);
  state.fileName = Utf8Text(info.fileName);
  state.kind = Utf8Text(info.kind);
  state.transaction = Utf8Text(info.transaction);
  state.memo = Utf8Text(info.memo);
  state.accountName = Utf8Text(info.accountName);
  state.certChainUrl = Cp950Text(info.certChainUrl);
  const struct {
    int32_t PolicyState::*support;
    std::string PolicyState::*version;
    std::string PolicyState::*update;
    int32_t VersionInfo::*infoSupport;
    der::Bytes VersionInfo::*infoVersion;
    der::Bytes VersionInfo::*infoUpdate;
  } platforms[] = {
      {&PolicyState::winSupport, &PolicyState::winVersion, &PolicyState::winUpdate,
       &VersionInfo::winSupport, &VersionInfo::winVersion, &VersionInfo::winUpdate},
      {&PolicyState::macSupport, &PolicyState::macVersion, &PolicyState::macUpdate,
       &VersionInfo::macSupport, &VersionInfo::macVersion, &VersionInfo::macUpdate},
      {&PolicyState::iosSupport, &PolicyState::iosVersion, &PolicyState::iosUpdate,
       &VersionInfo::iosSupport, &VersionInfo::iosVersion, &VersionInfo::iosUpdate},
      {&PolicyState::androidSupport, &PolicyState::androidVersion, &PolicyState::androidUpdate,
       &VersionInfo::androidSupport, &VersionInfo::androidVersion, &VersionInfo::androidUpdate},
      {&PolicyState::winPhoneSupport, &PolicyState::winPhoneVersion, &PolicyState::winPhoneUpdate,
       &VersionInfo::winPhoneSupport, &VersionInfo::winPhoneVersion, &VersionInfo::winPhoneUpdate},
  };
  for (const auto& p : platforms) {
    state.*p.support = info.*p.infoSupport;
    state.*p.version = Cp950Text(info.*p.infoVersion);
    state.*p.update = Cp950Text(info.*p.infoUpdate);
  }
}

void WriteImages(PolicyState& state, const TpkPackage& package) {
  const VersionInfo& info = package.versionInfo;
  const struct {
    const char* name;
    std::string PolicyState::*path;
    der::Bytes bytes;
  } files[] = {
      {"TTS", &PolicyState::tpkTrustSealPath, info.tpkTrustSeal},
      {"TMS", &PolicyState::tpkMistrustSealPath, info.tpkMistrustSeal},
      {"ITS", &PolicyState::ipkTrustSealPath, info.ipkTrustSeal},
      {"IMS", &PolicyState::ipkMistrustSealPath, info.ipkMistrustSeal},
      {"OTS", &PolicyState::onlineTrustSealPath, info.onlineTrustSeal},
      {"OMS", &PolicyState::onlineMistrustSealPath, info.onlineMistrustSeal},
      {"SNS", &PolicyState::snapshotPath, package.snapshot},
  };
  std::string failed;
  int reason = 0;
  for (const auto& file : files) {
    state.*file.path = state.workFolder + file.name;
    if (WritePrivateFile(state.*file.path, file.bytes.data(), file.bytes.size()) == 0) continue;
    // A picture that cannot be written is no reason to refuse the package,
    // but its path is not given out either: the name may still hold another
    // package's picture.
    if (failed.empty()) {
      failed = state.*file.path;
      reason = errno;
    }
    (state.*file.path).clear();
  }
  if (!failed.empty() && state.ownerWindow != nullptr) {
    state.ownerWindow->ShowMessage({"錯誤", WriteFailureText(failed, reason),
                                    OwnerWindow::Icon::kWarning, OwnerWindow::Buttons::kOk});
  }
}

int32_t CheckCertificate(PolicyState& state, const CertificateList& list, CertificateWalk& walk) {
  const X509Certificate& cert = list.front();
  return CheckAgainstCaChain(state, list, cert.authorityKeyId, &walk);
}

// `digestId` carries on from one signature to the next, since the verifier
// leaves it as it was when it never reaches a DigestInfo; `written` is this
// signature's own, -1 when the verifier wrote none.
int32_t Verify(const CertificateList& signer, int32_t& digestId, der::Bytes data,
               der::Bytes signature, int32_t& written) {
  written = -1;
  const int32_t result = VerifySignature(signer.front().publicKey, written, data.data(),
                                         data.size(), signature.data(), signature.size());
  if (written != -1) digestId = written;
  return result;
}

bool DigestMatches(der::Bytes stored, der::Bytes data) {
  uint8_t digest[kDigestLength];
  if (mbedtls_sha256_ret(data.data(), data.size(), digest, 0) != 0) return false;
  return stored.size() >= kDigestLength && std::equal(digest, digest + kDigestLength, stored.begin());
}

// The certified part's own verdict: the s3 signature and the s3 certificate,
// with the digest identifier the s3 verification left, and what describes
// the s3 signer (the check's walk, the identifier its signature wrote).
struct CertifiedPart {
  int32_t signResult = -1;
  int32_t certResult = -1;
  int32_t digestId = 0;
  CertificateWalk walk;
  int32_t signerDigestId = -1;
};

// s3 certifies only when its signer is one of the authority's own signing
// certificates; an insurer's key under the same root is not the authority.
bool SignedByAuthority(const PolicyState& state, const TpkPackage& package) {
  return state.trust && MatchesTrusted(package.s3Certificate.front(), state.trust->authority);
}

CertifiedPart CheckCertifiedPart(PolicyState& state, const TpkPackage& package) {
  CertifiedPart part;
  part.certResult = CheckCertificate(state, package.s3Certificate, part.walk);
  if (part.certResult != -1 && !SignedByAuthority(state, package)) {
    part.certResult |= CERT_NOT_AUTHORITY;
    part.walk.flags |= CERT_NOT_AUTHORITY;
  }
  part.signResult = Verify(package.s3Certificate, part.digestId, package.tpkPlaintext,
                           package.s3Signature, part.signerDigestId);
  return part;
}

// A newer reader is offered only by a package whose certified part holds:
// the offer downloads a file from the address the package names, which an
// unverified package must never be able to make the reader do.
void OfferUpdate(PolicyState& state, const TpkPackage& package,
                 std::optional<CertifiedPart>& certified) {
  if (!(state.winVersion > state.readerVersion)) return;
  certified = CheckCertifiedPart(state, package);
  if (certified->signResult != 0 || certified->certResult != 0) return;
  OfferReaderUpdate(state, state.winVersion, state.winUpdate);
}

// The password prompt; false when the user cancelled.
bool AskPassword(PolicyState& state, std::string& password) {
  if (state.ownerWindow == nullptr) return false;
  for (;;) {
    const OwnerWindow::Answer answer =
        state.ownerWindow->AskPassword(state.certChainUrl, state.batchNumber, password);
    if (answer != OwnerWindow::Answer::kOk) return false;
    if (!password.empty()) return true;
  }
}

// Steps after the password: every check runs; the last failure is the status.
void Judge(PolicyState& state, const TpkPackage& package, const std::string& password,
           const std::optional<CertifiedPart>& certified) {
  const IpkData& ipk = package.ipkData;
  // An update offer has already checked the certified part: no second chain
  // request, the same digest identifier.
  const CertifiedPart s3 = certified ? *certified : CheckCertifiedPart(state, package);
  state.s3CertResult = s3.certResult;
  state.s3Signer.check = s3.walk;
  state.s2CertResult = CheckCertificate(state, ipk.s2Certificate, state.s2Signer.check.emplace());
  state.s1CertResult = CheckCertificate(state, ipk.s1Certificate, state.s1Signer.check.emplace());
  if (state.s3CertResult != 0 || state.s2CertResult != 0 || state.s1CertResult != 0) {
    SetStatus(state, status::kCertificates);
  }

  int32_t digestId = s3.digestId;
  state.s3SignResult = s3.signResult;
  state.s3Signer.digestId = s3.signerDigestId;
  if (state.s3SignResult != 0) SetStatus(state, status::kS3Signature);

  state.s2SignResult = Verify(ipk.s2Certificate, digestId, ipk.signedRegion, ipk.s2Signature,
                              state.s2Signer.digestId);
  if (state.s2SignResult != 0) SetStatus(state, status::kS2Signature);

  const bool cipherIntact = DigestMatches(ipk.cipherDigest, package.cipher);
  if (!cipherIntact) {
    SetStatus(state, status::kCipherChanged);
    state.s3SignResult = status::kCipherChanged;
  }
  if (!DigestMatches(ipk.snapshotDigest, package.snapshot)) {
    SetStatus(state, status::kSnapshotChanged);
    state.s3SignResult = status::kSnapshotChanged;
  }
  // Only a package whose inner signature and cipher digest hold is decrypted.
  if (state.s2SignResult != 0 || !cipherIntact) return;

  std::string message;
  if (const int32_t code = DecryptDocument(password, package.cipher.data(), package.cipher.size(),
                                           {state.pdfData, state.pdfLength, state.decryptState}, message)) {
    SetStatus(state, code, std::move(message));
    return;
  }
  const der::Bytes document(state.pdfData.data(), static_cast<size_t>(state.pdfLength));
  state.s1SignResult =
      Verify(ipk.s1Certificate, digestId, document, ipk.s1Signature, state.s1Signer.digestId);
  if (state.s1SignResult != 0) SetStatus(state, status::kS1Signature);
  state.s1DigestId = digestId;
}

int32_t Open(PolicyState& state, const std::filesystem::path& path, TpkPackage& package,
             std::string& password) {
  ResetResults(state);
  // The file goes straight into the reader's own copy: the package is held once.
  if (ReadWholeFile(path, package.copy) != 0) {
    SetStatus(state, status::kUnreadable);
    return state.statusCode;
  }
  // What a verification report names the file by: the bytes verified, not
  // whatever may lie at the path later.
  uint8_t digest[kDigestLength];
  if (mbedtls_sha256_ret(package.copy.data(), package.copy.size(), digest, 0) == 0) {
    state.packageSha256 = HexText(digest, sizeof digest);
  }
  state.parseResult = ReadPackage(package, nullptr, 0);
  if (state.parseResult != 0) {
    SetStatus(state, status::kMalformed);
    return state.statusCode;
  }
  CopyTimes(state, package);
  CopyVersionInfo(state, package.versionInfo);
  RecordSignerCertificates(state, package);

  if (state.winSupport != 1) {
    if (state.ownerWindow != nullptr) {
      state.ownerWindow->ShowMessage({"資訊", "此檔案不支援在windows平台開啟",
                                      OwnerWindow::Icon::kInformation, OwnerWindow::Buttons::kOk});
    }
    state.statusCode = status::kNotForThisPlatform;
    return state.statusCode;
  }

  std::optional<CertifiedPart> certified;
  OfferUpdate(state, package, certified);
  // A window closed meanwhile shows nothing: the opening ends as if cancelled
  // and its work folder is left as it is.
  if (!AskPassword(state, password) || OwnerClosed(state)) {
    state.statusCode = status::kPasswordCancelled;
    return state.statusCode;
  }
  WriteImages(state, package);
  Judge(state, package, password, certified);
  return state.statusCode;
}

}  // namespace

int32_t OpenPolicy(PolicyState& state, const std::filesystem::path& path) {
  TpkPackage package;
  std::string password;
  const int32_t result = Open(state, path, package, password);
  mbedtls_platform_zeroize(password.data(), password.size());
  return result;
}

}  // namespace qalv
