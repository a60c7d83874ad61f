// X.509 certificate reader: DER (or the Base64 text of the DER) into a record.
//
// Accepts RSA keys and the PKCS #1 signature algorithms md2 .. sha256 only;
// every refusal is a code whose class bits say which element failed. Checks
// against an issuer are made elsewhere, with the key kept here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <mbedtls/rsa.h>

#include "der/cursor.h"
#include "platform/secure_buffer.h"

namespace qalv {

// A value whose tag tells its reader something: the string type of a name
// entry, the form of a serial number.
struct TaggedBytes {
  uint8_t tag = 0;
  der::Bytes bytes;
};

// One attribute of a distinguished name.
struct NameEntry {
  der::Bytes oid;
  TaggedBytes value;
};

// An RSA public key (N, E) in PKCS #1 v1.5 mode. Move-only; the big integers
// are wiped when released.
class RsaPublicKey {
 public:
  RsaPublicKey();
  RsaPublicKey(RsaPublicKey&&) noexcept = default;
  RsaPublicKey& operator=(RsaPublicKey&&) noexcept = default;

  mbedtls_rsa_context* get() { return ctx_.get(); }
  const mbedtls_rsa_context* get() const { return ctx_.get(); }
  // Modulus length in bytes, ceil(bits(N) / 8); 0 for no key.
  size_t length() const { return ctx_ ? ctx_->len : 0; }

 private:
  struct Free {
    void operator()(mbedtls_rsa_context* ctx) const;
  };
  std::unique_ptr<mbedtls_rsa_context, Free> ctx_;
};

struct X509Certificate {
  SecureBuffer rawCopy;        // owns the bytes every view below shows
  der::Bytes raw;              // the whole certificate
  der::Bytes tbs;              // TBSCertificate, tag and length included
  int32_t version = 0;         // 0 = empty record; else 1, 2 or 3
  TaggedBytes serial;
  der::Bytes sigAlgorithm;     // OID inside the TBS part
  der::Bytes issuerRaw;        // whole issuer Name element
  der::Bytes subjectRaw;       // whole subject Name element
  std::vector<NameEntry> issuer;
  std::vector<NameEntry> subject;
  der::Time validFrom;
  der::Time validTo;
  der::Bytes publicKeyAlgorithm;
  RsaPublicKey publicKey;
  der::Bytes issuerUniqueId;
  der::Bytes subjectUniqueId;
  der::Bytes extensions;       // content of the [3] element
  der::Bytes authorityKeyId;   // empty when absent
  der::Bytes subjectKeyId;     // empty when absent
  int32_t isCa = 0;
  int32_t selfSigned = 0;
  der::Bytes sigAlgorithm2;    // OID of the outer signatureAlgorithm
  der::Bytes signature;        // without the unused-bits byte
};

// The certificates read so far, in order. A refused certificate never enters
// the list, so the list is always valid and holds only filled records.
using CertificateList = std::vector<X509Certificate>;

namespace x509 {
// The DER reader's own codes, with the class bits below added.
using der::kInvalidLength;
using der::kLengthMismatch;
using der::kNoMemory;
using der::kOutOfData;
using der::kUnexpectedTag;
inline constexpr int32_t kBase64InvalidCharacter = 0x12;

inline constexpr int32_t kClassBase64 = 0x40;
inline constexpr int32_t kClassFormat = 0x60;
inline constexpr int32_t kClassVersion = 0x80;
inline constexpr int32_t kClassSerial = 0xA0;
inline constexpr int32_t kClassAlgorithm = 0xC0;
inline constexpr int32_t kClassName = 0xE0;
inline constexpr int32_t kClassDate = 0x100;
inline constexpr int32_t kClassPublicKey = 0x120;
inline constexpr int32_t kClassSignature = 0x140;
inline constexpr int32_t kClassExtensions = 0x160;

inline constexpr int32_t kUnknownVersion = 0x180;
inline constexpr int32_t kUnknownSignatureAlgorithm = 0x1A0;
inline constexpr int32_t kUnknownPublicKeyAlgorithm = 0x1C0;
inline constexpr int32_t kSignatureAlgorithmMismatch = 0x1E0;
inline constexpr int32_t kKeyCheckFailed = 0x430;
}  // namespace x509

// Appends one certificate read from `data` (exactly one certificate, DER or
// Base64 text of the DER when the first byte is 'M'). 0 or a refusal code; on
// refusal `list` is unchanged.
[[nodiscard]] int32_t ParseCertificate(CertificateList& list, const uint8_t* data, size_t length);

// Releases every record: keys, name entries and wiped raw copies.
void FreeCertificateList(CertificateList& list);

}  // namespace qalv
