// The element readers the certificate reader and the CA chain reader share,
// over der::Cursor with the certificate length rule. Internal to x509/;
// every reader returns the certificate reader's codes.
#pragma once

#include <cstdint>
#include <vector>

#include "der/cursor.h"
#include "platform/secure_buffer.h"
#include "x509/certificate.h"

namespace qalv::x509 {

// Every certificate and CA chain element is read under this rule.
inline constexpr der::LengthRule kLengths = der::LengthRule::kCertificate;

// At most four content bytes, not negative.
[[nodiscard]] int32_t ReadSmallInteger(der::Cursor& cur, int32_t& value);

// An INTEGER or [2] serial number, kept whatever its size (serial class).
[[nodiscard]] int32_t ReadSerial(der::Cursor& cur, TaggedBytes& serial);

// AlgorithmIdentifier in two halves, so that a public key's algorithm is
// recognised before its parameters are looked at (algorithm class).
[[nodiscard]] int32_t ReadAlgorithmOid(der::Cursor& cur, der::Cursor& algorithm, der::Bytes& oid);
[[nodiscard]] int32_t ReadAlgorithmParameters(der::Cursor& algorithm);
[[nodiscard]] int32_t ReadAlgorithm(der::Cursor& cur, der::Bytes& oid);

// The content of a Name: SEQUENCE OF SET, one attribute each, at least one
// (name class).
[[nodiscard]] int32_t ReadName(der::Cursor& name, std::vector<NameEntry>& entries);

// The next two bytes as a decimal number, or -1 when they are not two digits.
int32_t ReadTwoDigits(der::Cursor& text);

// The input itself, or its Base64 decoding when the first byte is 'M'.
[[nodiscard]] int32_t CopyInput(der::Bytes input, SecureBuffer& copy);

}  // namespace qalv::x509
