// JSON forms shared by the subcommands: certificates and names. Byte strings
// and times are written with the core's own texts (x509/certificate_summary.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <json/value.h>

#include "platform/secure_buffer.h"
#include "x509/certificate.h"
#include "x509/certificate_summary.h"

namespace qalv::tpk {

// The certificate's summary as tpk names its members: "subject", "issuer",
// "serial", "notBefore", "notAfter" and "keyBits".
Json::Value SummaryToJson(const CertificateSummary& summary);

// A name as [[oid, value], ...].
Json::Value NameToJson(const NameText& name);

// Every member of `tpk cert`'s answer except "result".
Json::Value CertificateToJson(const X509Certificate& cert);

// Prints `value` as one JSON object on standard output, UTF-8 unescaped.
void PrintJson(const Json::Value& value);

// Reads a whole input file of `command`; when it cannot be read at all, says
// so on standard error and returns false.
bool ReadInputFile(const char* command, const std::string& path, SecureBuffer& bytes);

}  // namespace qalv::tpk
