#include "x509/certificate_summary.h"

#include <cstdio>

#include <mbedtls/bignum.h>
#include <mbedtls/sha256.h>

#include "platform/code_page.h"

namespace qalv {
namespace {

constexpr uint8_t kTagUniversalString = 0x1C;
constexpr uint8_t kTagBmpString = 0x1E;
constexpr uint32_t kReplacement = 0xFFFD;
constexpr size_t kSha256Length = 32;

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsScalar(uint32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

std::string Utf16BeText(der::Bytes p) {
  const size_t length = p.size();
  std::string out;
  size_t i = 0;
  for (; i + 2 <= length; i += 2) {
    uint32_t unit = (static_cast<uint32_t>(p[i]) << 8) | p[i + 1];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 4 <= length) {
      const uint32_t low = (static_cast<uint32_t>(p[i + 2]) << 8) | p[i + 3];
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, IsScalar(unit) ? unit : kReplacement);
  }
  if (i != length) AppendUtf8(out, kReplacement);
  return out;
}

std::string Utf32BeText(der::Bytes p) {
  const size_t length = p.size();
  std::string out;
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    const uint32_t cp = (static_cast<uint32_t>(p[i]) << 24) |
                        (static_cast<uint32_t>(p[i + 1]) << 16) |
                        (static_cast<uint32_t>(p[i + 2]) << 8) | p[i + 3];
    AppendUtf8(out, IsScalar(cp) ? cp : kReplacement);
  }
  if (i != length) AppendUtf8(out, kReplacement);
  return out;
}

// Single-byte strings are taken as UTF-8 when they are; otherwise (a T61String
// in Latin-1, say) byte by byte as Latin-1.
std::string NameValueText(const TaggedBytes& value) {
  const der::Bytes text = value.bytes;
  if (value.tag == kTagBmpString) return Utf16BeText(text);
  if (value.tag == kTagUniversalString) return Utf32BeText(text);
  if (IsValidUtf8(text)) return std::string(text.begin(), text.end());
  std::string out;
  for (const uint8_t byte : text) AppendUtf8(out, byte);
  return out;
}

std::string Hex(der::Bytes bytes) { return HexText(bytes.data(), bytes.size()); }

std::string Sha256Text(der::Bytes bytes) {
  uint8_t digest[kSha256Length];
  if (mbedtls_sha256_ret(bytes.data(), bytes.size(), digest, 0) != 0) return "";
  return HexText(digest, sizeof digest);
}

}  // namespace

std::string HexText(const uint8_t* data, size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
  }
  return text;
}

std::string OidText(der::Bytes oid) {
  std::string text;
  uint64_t arc = 0;
  bool first = true;
  for (const uint8_t byte : oid) {
    if (arc > (UINT64_MAX >> 7)) return "";
    arc = (arc << 7) | (byte & 0x7F);
    if ((byte & 0x80) != 0) continue;
    if (first) {
      const uint64_t top = arc < 80 ? arc / 40 : 2;
      text = std::to_string(top) + "." + std::to_string(arc - top * 40);
      first = false;
    } else {
      text += '.';
      text += std::to_string(arc);
    }
    arc = 0;
  }
  if (!oid.empty() && (oid.back() & 0x80) != 0) return "";
  return text;
}

std::string UtcText(const der::Time& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(t.year),
                static_cast<int>(t.month), static_cast<int>(t.day), static_cast<int>(t.hour),
                static_cast<int>(t.minute), static_cast<int>(t.second));
  return text;
}

NameText NameTextOf(const std::vector<NameEntry>& name) {
  NameText text;
  text.reserve(name.size());
  for (const NameEntry& entry : name) text.push_back({OidText(entry.oid), NameValueText(entry.value)});
  return text;
}

CertificateSummary SummarizeCertificate(const X509Certificate& cert) {
  const mbedtls_rsa_context* rsa = cert.publicKey.get();
  CertificateSummary summary;
  summary.subject = NameTextOf(cert.subject);
  summary.issuer = NameTextOf(cert.issuer);
  summary.serial = Hex(cert.serial.bytes);
  summary.notBefore = UtcText(cert.validFrom);
  summary.notAfter = UtcText(cert.validTo);
  summary.keyBits = rsa != nullptr ? static_cast<uint32_t>(mbedtls_mpi_bitlen(&rsa->N)) : 0;
  summary.sha256Fingerprint = Sha256Text(cert.raw);
  return summary;
}

}  // namespace qalv
