// The certificates the reader trusts, and nothing else: the roots a
// certificate path must end at (anchors/) and the authority's signing
// certificates, the only ones whose s3 signature certifies a package
// (authority/). They come from a trust folder on this machine, never from a
// package or a service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "x509/certificate.h"

namespace qalv {

struct TrustAnchors {
  CertificateList anchors;
  CertificateList authority;
};

// How a trust file holds its certificates: *.pem one or more PEM blocks;
// *.der, *.cer, *.crt exactly one certificate, DER or PEM.
enum class TrustFileKind { kPemBundle, kSingle };

// The kind a file name asks for; nothing for names that are not trust files.
std::optional<TrustFileKind> TrustFileKindOf(const std::filesystem::path& name);

// Appends the certificates of one trust file's bytes to `list`, all or none:
// 0, or the reader's code for the first certificate refused (a file without
// a certificate is refused as out of data).
[[nodiscard]] int32_t ReadTrustFile(const uint8_t* bytes, size_t length, TrustFileKind kind,
                                    CertificateList& list);

// The trust folders in force: `explicitFolder` alone when given; else
// QALV_TRUST_DIR alone when set; else the per-user folder
// ($XDG_CONFIG_HOME/QALV/trust, by default ~/.config/QALV/trust) and the
// installed one (programFolder/../share/qalv/trust).
std::vector<std::filesystem::path> TrustFolders(
    const std::optional<std::filesystem::path>& explicitFolder,
    const std::filesystem::path& programFolder);

// Reads anchors/ and authority/ of every folder. A file that cannot be read
// or holds a certificate the reader refuses is skipped with a line on
// standard error and in the trace; nothing here stops an opening.
TrustAnchors LoadTrustAnchors(const std::vector<std::filesystem::path>& folders);

// Equal DER bytes, or the same raw subject name over the same public key
// (modulus and exponent): a re-issued copy of a trusted certificate matches.
bool MatchesTrusted(const X509Certificate& cert, const CertificateList& trusted);

}  // namespace qalv
