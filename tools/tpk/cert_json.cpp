#include "tools/tpk/cert_json.h"

#include <json/writer.h>
#include <mbedtls/bignum.h>

#include <cstdio>
#include <iostream>
#include <memory>

#include "platform/file_io.h"

namespace qalv::tpk {
namespace {

constexpr uint8_t kTagUniversalString = 0x1C;
constexpr uint8_t kTagBmpString = 0x1E;
constexpr uint32_t kReplacement = 0xFFFD;

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

// Length of the well-formed UTF-8 sequence `text` starts with, or 0.
size_t Utf8SequenceLength(der::Bytes text) {
  const uint8_t lead = text[0];
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t cp = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    cp = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (text[i] & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  return cp >= kSmallest[length] && IsScalar(cp) ? length : 0;
}

bool IsUtf8(der::Bytes text) {
  while (!text.empty()) {
    const size_t step = Utf8SequenceLength(text);
    if (step == 0) return false;
    text = text.subspan(step);
  }
  return true;
}

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

std::string Hex(der::Bytes bytes) { return HexText(bytes.data(), bytes.size()); }

std::string Oid(der::Bytes oid) { return OidText(oid.data(), oid.size()); }

// Single-byte strings are taken as UTF-8 when they are; otherwise (a T61String
// in Latin-1, say) byte by byte as Latin-1, so the answer stays valid UTF-8.
std::string NameValueText(const TaggedBytes& value) {
  const der::Bytes text = value.bytes;
  if (value.tag == kTagBmpString) return Utf16BeText(text);
  if (value.tag == kTagUniversalString) return Utf32BeText(text);
  if (IsUtf8(text)) return std::string(text.begin(), text.end());
  std::string out;
  for (const uint8_t byte : text) AppendUtf8(out, byte);
  return out;
}

Json::Value NameToJson(const std::vector<NameEntry>& name) {
  Json::Value entries(Json::arrayValue);
  for (const NameEntry& entry : name) {
    Json::Value pair(Json::arrayValue);
    pair.append(Oid(entry.oid));
    pair.append(NameValueText(entry.value));
    entries.append(pair);
  }
  return entries;
}


std::string TimeText(const der::Time& t) {
  return UtcText(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

// The key check bounds the exponent to 64 bits.
Json::UInt64 ExponentValue(const mbedtls_mpi& e) {
  uint8_t bytes[8] = {};
  if (mbedtls_mpi_write_binary(&e, bytes, sizeof bytes) != 0) return 0;
  Json::UInt64 value = 0;
  for (uint8_t b : bytes) value = (value << 8) | b;
  return value;
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

std::string UtcText(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                    int32_t second) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day), static_cast<int>(hour),
                static_cast<int>(minute), static_cast<int>(second));
  return text;
}

// Arcs wider than 64 bits or a last arc cut short leave no sound number to
// print; such an identifier reads as "".
std::string OidText(const uint8_t* data, size_t length) {
  std::string text;
  uint64_t arc = 0;
  bool first = true;
  for (size_t i = 0; i < length; ++i) {
    if (arc > (UINT64_MAX >> 7)) return "";
    arc = (arc << 7) | (data[i] & 0x7F);
    if ((data[i] & 0x80) != 0) continue;
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
  if (length != 0 && (data[length - 1] & 0x80) != 0) return "";
  return text;
}

Json::Value CertificateToJson(const X509Certificate& cert) {
  const mbedtls_rsa_context* rsa = cert.publicKey.get();
  Json::Value out(Json::objectValue);
  out["version"] = cert.version;
  out["serial"] = Hex(cert.serial.bytes);
  out["sigAlgorithm"] = Oid(cert.sigAlgorithm);
  out["issuer"] = NameToJson(cert.issuer);
  out["subject"] = NameToJson(cert.subject);
  out["notBefore"] = TimeText(cert.validFrom);
  out["notAfter"] = TimeText(cert.validTo);
  out["keyBits"] = static_cast<Json::UInt64>(mbedtls_mpi_bitlen(&rsa->N));
  out["exponent"] = ExponentValue(rsa->E);
  out["authorityKeyId"] = Hex(cert.authorityKeyId);
  out["subjectKeyId"] = Hex(cert.subjectKeyId);
  out["isCa"] = cert.isCa;
  out["selfSigned"] = cert.selfSigned;
  out["publicKeyAlgorithm"] = Oid(cert.publicKeyAlgorithm);
  out["sigAlgorithm2"] = Oid(cert.sigAlgorithm2);
  out["issuerUniqueId"] = Hex(cert.issuerUniqueId);
  out["subjectUniqueId"] = Hex(cert.subjectUniqueId);
  out["tbsLength"] = static_cast<Json::UInt64>(cert.tbs.size());
  out["signatureLength"] = static_cast<Json::UInt64>(cert.signature.size());
  return out;
}

void PrintJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["emitUTF8"] = true;
  builder["indentation"] = "";
  const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
  writer->write(value, &std::cout);
  std::cout << '\n' << std::flush;
}

bool ReadInputFile(const char* command, const std::string& path, SecureBuffer& bytes) {
  if (ReadWholeFile(path, bytes) == 0) return true;
  std::cerr << "tpk " << command << ": cannot read " << path << '\n';
  return false;
}

}  // namespace qalv::tpk
