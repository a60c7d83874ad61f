// JSON forms shared by the subcommands: certificates, byte strings and times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <json/value.h>

#include "platform/secure_buffer.h"
#include "x509/certificate.h"

namespace qalv::tpk {

// Upper-case hexadecimal text of the bytes.
std::string HexText(const uint8_t* data, size_t length);

// "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcText(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                    int32_t second);

// Dotted-decimal text of a DER OID's content bytes.
std::string OidText(const uint8_t* data, size_t length);

// Every member of `tpk cert`'s answer except "result".
Json::Value CertificateToJson(const X509Certificate& cert);

// Prints `value` as one JSON object on standard output, UTF-8 unescaped.
void PrintJson(const Json::Value& value);

// Reads a whole input file of `command`; when it cannot be read at all, says
// so on standard error and returns false.
bool ReadInputFile(const char* command, const std::string& path, SecureBuffer& bytes);

}  // namespace qalv::tpk
