#include "x509/trust_anchors.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <mbedtls/bignum.h>

#include "platform/file_io.h"
#include "platform/trace.h"

namespace qalv {
namespace {

constexpr std::string_view kPemBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kPemEnd = "-----END CERTIFICATE-----";
constexpr std::string_view kAnyPemHeader = "-----BEGIN";
constexpr std::string_view kPemHeaderLine = "\n-----BEGIN";
// Far above any certificate bundle a distributor ships; a larger file is
// not read into memory at all.
constexpr uintmax_t kMaxTrustFileSize = 4 * 1024 * 1024;

bool IsPemSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A PEM body without the white space around it: the Base64 text of the DER,
// which the certificate reader decodes itself (line breaks included).
std::string_view TrimmedBody(std::string_view body) {
  while (!body.empty() && IsPemSpace(body.front())) body.remove_prefix(1);
  while (!body.empty() && IsPemSpace(body.back())) body.remove_suffix(1);
  return body;
}

[[nodiscard]] int32_t ReadPem(std::string_view text, CertificateList& list) {
  size_t at = 0;
  for (;;) {
    const size_t begin = text.find(kPemBegin, at);
    if (begin == std::string_view::npos) return 0;
    const size_t bodyStart = begin + kPemBegin.size();
    const size_t end = text.find(kPemEnd, bodyStart);
    if (end == std::string_view::npos) return x509::kClassBase64 | x509::kOutOfData;
    const std::string_view body = TrimmedBody(text.substr(bodyStart, end - bodyStart));
    if (const int32_t ret = ParseCertificate(list, reinterpret_cast<const uint8_t*>(body.data()),
                                             body.size())) {
      return ret;
    }
    at = end + kPemEnd.size();
  }
}

bool SameKey(const RsaPublicKey& a, const RsaPublicKey& b) {
  const mbedtls_rsa_context* ka = a.get();
  const mbedtls_rsa_context* kb = b.get();
  return ka != nullptr && kb != nullptr && a.length() != 0 &&
         mbedtls_mpi_cmp_mpi(&ka->N, &kb->N) == 0 && mbedtls_mpi_cmp_mpi(&ka->E, &kb->E) == 0;
}

void Skip(const std::filesystem::path& path, const std::string& why) {
  std::fprintf(stderr, "qalv: trust: %s skipped: %s\n", path.c_str(), why.c_str());
  trace::Log("trust: %s skipped: %s\n", path.c_str(), why.c_str());
}

void LoadFile(const std::filesystem::path& path, TrustFileKind kind, CertificateList& list) {
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return Skip(path, error.message());
  if (size > kMaxTrustFileSize) return Skip(path, "larger than a trust file can be");
  SecureBuffer bytes;
  if (ReadWholeFile(path, bytes) != 0) return Skip(path, "cannot be read");
  if (const int32_t code = ReadTrustFile(bytes.data(), bytes.size(), kind, list)) {
    Skip(path, "certificate refused with code " + std::to_string(code));
  }
}

// Every trust file of one folder, in name order so that loads repeat.
void LoadFolder(const std::filesystem::path& folder, CertificateList& list) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) return;
  std::vector<std::filesystem::path> files;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (TrustFileKindOf(it->path())) files.push_back(it->path());
  }
  if (error) return Skip(folder, error.message());
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path& file : files) LoadFile(file, *TrustFileKindOf(file), list);
}

std::filesystem::path PerUserFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::filesystem::path(config) / "QALV/trust";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return {};
  return std::filesystem::path(home) / ".config/QALV/trust";
}

}  // namespace

std::optional<TrustFileKind> TrustFileKindOf(const std::filesystem::path& name) {
  const std::string extension = name.extension().string();
  if (extension == ".pem") return TrustFileKind::kPemBundle;
  if (extension == ".der" || extension == ".cer" || extension == ".crt") {
    return TrustFileKind::kSingle;
  }
  return std::nullopt;
}

int32_t ReadTrustFile(const uint8_t* bytes, size_t length, TrustFileKind kind,
                      CertificateList& list) {
  const std::string_view text(reinterpret_cast<const char*>(bytes), length);
  CertificateList read;
  int32_t ret = 0;
  // A certificate whose DER happens to hold the header text is still read as
  // DER: PEM is recognised only at the start of a line of text.
  const bool pem =
      text.starts_with(kAnyPemHeader) || text.find(kPemHeaderLine) != std::string_view::npos;
  if (pem) {
    ret = ReadPem(text, read);
  } else if (kind == TrustFileKind::kSingle) {
    ret = ParseCertificate(read, bytes, length);
  } else {
    ret = x509::kClassBase64 | x509::kOutOfData;
  }
  if (ret == 0 && read.empty()) ret = x509::kOutOfData;
  if (ret == 0 && kind == TrustFileKind::kSingle && read.size() != 1) ret = x509::kLengthMismatch;
  if (ret != 0) {
    FreeCertificateList(read);
    return ret;
  }
  for (X509Certificate& cert : read) list.push_back(std::move(cert));
  return 0;
}

std::vector<std::filesystem::path> TrustFolders(
    const std::optional<std::filesystem::path>& explicitFolder,
    const std::filesystem::path& programFolder) {
  if (explicitFolder) return {*explicitFolder};
  const char* environment = std::getenv("QALV_TRUST_DIR");
  if (environment != nullptr && environment[0] != '\0') return {environment};
  std::vector<std::filesystem::path> folders;
  if (const std::filesystem::path perUser = PerUserFolder(); !perUser.empty()) {
    folders.push_back(perUser);
  }
  if (!programFolder.empty()) {
    const std::filesystem::path installed = InstalledDataFolder(programFolder) / "trust";
    if (folders.empty() || folders.front() != installed) folders.push_back(installed);
  }
  return folders;
}

TrustAnchors LoadTrustAnchors(const std::vector<std::filesystem::path>& folders) {
  TrustAnchors trust;
  for (const std::filesystem::path& folder : folders) {
    LoadFolder(folder / "anchors", trust.anchors);
    LoadFolder(folder / "authority", trust.authority);
  }
  return trust;
}

bool MatchesTrusted(const X509Certificate& cert, const CertificateList& trusted) {
  return std::any_of(trusted.begin(), trusted.end(), [&cert](const X509Certificate& t) {
    return der::SameBytes(cert.raw, t.raw) ||
           (der::SameBytes(cert.subjectRaw, t.subjectRaw) && SameKey(cert.publicKey, t.publicKey));
  });
}

}  // namespace qalv
