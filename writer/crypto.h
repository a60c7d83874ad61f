// The writer's cryptography over mbed TLS: RSA keys (made, loaded, saved),
// PKCS #1 v1.5 signatures with a chosen digest, digests and Base64.
//
// Failures of the library throw std::runtime_error: the writer serves tests
// and tools, which want the reason, not a code.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include <mbedtls/md.h>
#include <mbedtls/pk.h>

#include "writer/der_writer.h"

namespace qalv::writer {

// Throws std::runtime_error naming `what` when an mbed TLS call returned non-zero.
void CheckMbedTls(int code, const char* what);

enum class Digest { kMd5, kSha1, kSha224, kSha256, kSha384, kSha512 };

// The digests by their command-line names: "md5", "sha1", "sha224",
// "sha256", "sha384", "sha512".
const std::map<std::string, Digest>& DigestsByName();
// Those names joined with "|", for help texts.
std::string DigestNameList();
mbedtls_md_type_t MdType(Digest digest);

Bytes DigestOf(Digest digest, const Bytes& data);
Bytes Sha256(const Bytes& data);

// Plain Base64 text, one line, no line breaks.
std::string Base64Text(const Bytes& data);

// An RSA key pair. Move-only; the key material is freed (and wiped by
// mbed TLS) with the object.
class RsaKey {
 public:
  // A fresh key with public exponent 65537.
  static RsaKey Generate(unsigned bits);
  // A private key in PEM (PKCS #1 or PKCS #8, unencrypted).
  static RsaKey FromPem(const std::string& pem);
  static RsaKey FromPemFile(const std::string& path);

  RsaKey(RsaKey&&) noexcept = default;
  RsaKey& operator=(RsaKey&&) noexcept = default;

  std::string PrivatePem() const;
  // PKCS #1 v1.5 signature of DigestOf(digest, data).
  Bytes Sign(Digest digest, const Bytes& data) const;
  // SHA-1 of the DER RSAPublicKey: the key identifier written into
  // certificates (Subject/AuthorityKeyIdentifier).
  Bytes KeyIdentifier() const;
  unsigned Bits() const;

  mbedtls_pk_context* get() const { return ctx_.get(); }

 private:
  struct Free {
    void operator()(mbedtls_pk_context* ctx) const;
  };
  RsaKey();
  std::unique_ptr<mbedtls_pk_context, Free> ctx_;
};

// mbed TLS's random-number callback over one process-wide CTR-DRBG, seeded
// from the system's entropy on first use.
int RandomBytes(void* unused, unsigned char* output, size_t length);

}  // namespace qalv::writer
