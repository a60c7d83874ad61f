// The reader of a CA chain: a PKCS #7 SignedData carrying certificates, as
// DER or as its Base64 text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/secure_buffer.h"
#include "x509/certificate.h"

namespace qalv {

// A PKCS #7 SignedData: its own copy of the DER bytes and its certificates.
struct SignedDataRecord {
  SecureBuffer raw;
  CertificateList certificates;
};

// Reads a chain (DER, or Base64 text when the first byte is 'M'); 0 or a
// certificate reader's code.
[[nodiscard]] int32_t ParseSignedData(SignedDataRecord& record, const uint8_t* data,
                                      size_t length);

}  // namespace qalv
