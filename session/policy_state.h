// The one record through which the opening of a package hands its results to
// the window, the page and the online services. Texts are UTF-8; folder texts
// end with "/".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/secure_buffer.h"
#include "session/owner_window.h"
#include "x509/certificate_check.h"
#include "x509/certificate_summary.h"

namespace qalv {

struct TrustAnchors;

// What an opening saw of one signer, kept so that the signer can be
// described (and its certificate exported) after it.
struct SignerRecord {
  // The signer certificate as the package reader read it, and its DER
  // (wiped when released); nothing when the package was not read.
  std::optional<CertificateSummary> certificate;
  WipedBytes der;
  // The certificate check once it ran in this opening (flags -1: no usable
  // chain). The s3 signer's flags include CERT_NOT_AUTHORITY when the opening
  // added it to the result.
  std::optional<CertificateWalk> check;
  // The digest identifier its signature verification wrote; -1 while none.
  int32_t digestId = -1;
};

// The three bytes the online services hash in front of their request data.
inline constexpr char kAuthPrefix[] = "QUV";

struct PolicyState {
  explicit PolicyState(std::string programFolder = "");
  PolicyState(const PolicyState&) = delete;
  PolicyState& operator=(const PolicyState&) = delete;

  // Environment, set once by the window that owns the state.
  OwnerWindow* ownerWindow = nullptr;
  std::string programFolder;
  std::string workFolder;
  std::string readerVersion;
  // The trust anchors and the authority's signing certificates; without
  // them no certificate is rooted and no s3 is the authority's.
  std::shared_ptr<const TrustAnchors> trust;

  // Version information of the package opened last.
  std::string uniqueSerial;
  std::string batchNumber;
  std::string fileName;
  std::string kind;
  std::string transaction;
  std::string memo;
  std::string accountName;
  std::string certChainUrl;
  int32_t winSupport = 0;
  std::string winVersion;
  std::string winUpdate;
  int32_t macSupport = 0;
  std::string macVersion;
  std::string macUpdate;
  int32_t iosSupport = 0;
  std::string iosVersion;
  std::string iosUpdate;
  int32_t androidSupport = 0;
  std::string androidVersion;
  std::string androidUpdate;
  int32_t winPhoneSupport = 0;
  std::string winPhoneVersion;
  std::string winPhoneUpdate;

  // Files written into the work folder.
  std::string tpkTrustSealPath;
  std::string tpkMistrustSealPath;
  std::string ipkTrustSealPath;
  std::string ipkMistrustSealPath;
  std::string onlineTrustSealPath;
  std::string onlineMistrustSealPath;
  std::string snapshotPath;

  // The decrypted document: the whole plaintext; its first pdfLength bytes
  // are the document.
  SecureBuffer pdfData;
  int32_t pdfLength = 0;
  int32_t s1DigestId = 0;

  // -1: not evaluated in this opening; 0: passed; else the failing code.
  int32_t parseResult = -1;
  int32_t s3SignResult = -1;
  int32_t s2SignResult = -1;
  int32_t s1SignResult = -1;
  int32_t s3CertResult = -1;
  int32_t s2CertResult = -1;
  int32_t s1CertResult = -1;
  int32_t decryptState = -1;

  // The signers of s1, s2 and s3 as the opening saw them.
  SignerRecord s1Signer;
  SignerRecord s2Signer;
  SignerRecord s3Signer;

  // Zero-terminated; bytes up to the terminator enter the authenticators.
  std::array<uint8_t, 260> authPrefix{};

  std::string statusText;
  int32_t statusCode = 0;
  std::string s3CertNotAfter;
  std::string s1CertNotAfter;
  std::string s2CertNotAfter;
  std::string ipkSignTime;
  std::string tpkSignTime;
  std::string onlineResponse;
  // SHA-256 of the package file's bytes as the opening read them, upper-case
  // hexadecimal; "" before a file was read.
  std::string packageSha256;

  // Key identifiers (hexadecimal) whose chain the chain service answered in
  // the current opening: it is not asked for them again before the next.
  std::set<std::string> chainsFetched;
};

// True when the window the state works for has closed: nothing more is
// written for it.
bool OwnerClosed(const PolicyState& state);

// Whether the insurer's seal (s1 and s2) and the authority's seal (s3) show
// as trusted: both their signatures and certificates passed.
bool InsurerTrusted(const PolicyState& state);
bool AuthorityTrusted(const PolicyState& state);

// The prefix's bytes up to its terminator.
std::string_view AuthPrefixText(const PolicyState& state);

}  // namespace qalv
