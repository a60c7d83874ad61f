// Who a certificate names and how it is shown, the same in the windows and in
// tpk: byte strings as upper-case hexadecimal, OIDs in dotted decimal, name
// values as UTF-8, and stored (UTC) times as "YYYY-MM-DDTHH:MM:SSZ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "der/cursor.h"
#include "x509/certificate.h"

namespace qalv {

// One attribute of a distinguished name as text.
struct NameAttribute {
  std::string oid;    // dotted decimal
  std::string value;  // UTF-8
};

// A distinguished name's attributes in certificate order.
using NameText = std::vector<NameAttribute>;

struct CertificateSummary {
  NameText subject;
  NameText issuer;
  std::string serial;     // the serial's content bytes as stored, leading zero included
  std::string notBefore;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string notAfter;
  uint32_t keyBits = 0;   // bit length of the modulus
  std::string sha256Fingerprint;  // SHA-256 of the whole DER certificate
};

// Upper-case hexadecimal text of the bytes.
std::string HexText(const uint8_t* data, size_t length);

// Dotted decimal text of a DER OID's content bytes; "" when an arc is wider
// than 64 bits or the last one is cut short.
std::string OidText(der::Bytes oid);

// "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(const der::Time& time);

// The entries' OIDs and values as text. BMPString and UniversalString are
// converted; other values are taken as UTF-8 when they are, else byte by byte
// as Latin-1, so the text is always valid UTF-8.
NameText NameTextOf(const std::vector<NameEntry>& name);

// The summary of a certificate the reader accepted.
CertificateSummary SummarizeCertificate(const X509Certificate& cert);

}  // namespace qalv
