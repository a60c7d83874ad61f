#include "writer/crypto.h"

#include <mutex>
#include <stdexcept>

#include <mbedtls/base64.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/rsa.h>

#include "writer/files.h"

namespace qalv::writer {
namespace {

struct SharedRandom {
  std::mutex lock;
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context drbg;

  SharedRandom() {
    mbedtls_entropy_init(&entropy);
    mbedtls_ctr_drbg_init(&drbg);
    static constexpr char kPersonalisation[] = "qalv package writer";
    CheckMbedTls(mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy,
                                       reinterpret_cast<const unsigned char*>(kPersonalisation),
                                       sizeof kPersonalisation - 1),
                 "seeding the random generator");
  }
  ~SharedRandom() {
    mbedtls_ctr_drbg_free(&drbg);
    mbedtls_entropy_free(&entropy);
  }
};

}  // namespace

void CheckMbedTls(int code, const char* what) {
  if (code != 0) {
    throw std::runtime_error(std::string(what) + " failed: mbed TLS code " + std::to_string(code));
  }
}

int RandomBytes(void*, unsigned char* output, size_t length) {
  static SharedRandom random;
  std::lock_guard guard(random.lock);
  return mbedtls_ctr_drbg_random(&random.drbg, output, length);
}

const std::map<std::string, Digest>& DigestsByName() {
  static const std::map<std::string, Digest> kDigests = {
      {"md5", Digest::kMd5},       {"sha1", Digest::kSha1},     {"sha224", Digest::kSha224},
      {"sha256", Digest::kSha256}, {"sha384", Digest::kSha384}, {"sha512", Digest::kSha512}};
  return kDigests;
}

std::string DigestNameList() {
  std::string list;
  for (const auto& [name, digest] : DigestsByName()) list += (list.empty() ? "" : "|") + name;
  return list;
}

mbedtls_md_type_t MdType(Digest digest) {
  switch (digest) {
    case Digest::kMd5:
      return MBEDTLS_MD_MD5;
    case Digest::kSha1:
      return MBEDTLS_MD_SHA1;
    case Digest::kSha224:
      return MBEDTLS_MD_SHA224;
    case Digest::kSha256:
      return MBEDTLS_MD_SHA256;
    case Digest::kSha384:
      return MBEDTLS_MD_SHA384;
    case Digest::kSha512:
      return MBEDTLS_MD_SHA512;
  }
  throw std::invalid_argument("unknown digest");
}

Bytes DigestOf(Digest digest, const Bytes& data) {
  const mbedtls_md_info_t* info = mbedtls_md_info_from_type(MdType(digest));
  if (!info) throw std::runtime_error("digest not available in mbed TLS");
  Bytes out(mbedtls_md_get_size(info));
  CheckMbedTls(mbedtls_md(info, data.data(), data.size(), out.data()), "digest");
  return out;
}

Bytes Sha256(const Bytes& data) { return DigestOf(Digest::kSha256, data); }

std::string Base64Text(const Bytes& data) {
  size_t needed = 0;
  mbedtls_base64_encode(nullptr, 0, &needed, data.data(), data.size());
  std::string text(needed, '\0');
  size_t written = 0;
  CheckMbedTls(mbedtls_base64_encode(reinterpret_cast<unsigned char*>(text.data()), text.size(),
                                     &written, data.data(), data.size()),
               "Base64 encoding");
  text.resize(written);
  return text;
}

void RsaKey::Free::operator()(mbedtls_pk_context* ctx) const {
  mbedtls_pk_free(ctx);
  delete ctx;
}

RsaKey::RsaKey() : ctx_(new mbedtls_pk_context) { mbedtls_pk_init(ctx_.get()); }

RsaKey RsaKey::Generate(unsigned bits) {
  RsaKey key;
  CheckMbedTls(mbedtls_pk_setup(key.get(), mbedtls_pk_info_from_type(MBEDTLS_PK_RSA)),
               "RSA set-up");
  CheckMbedTls(mbedtls_rsa_gen_key(mbedtls_pk_rsa(*key.get()), RandomBytes, nullptr, bits, 65537),
               "RSA key generation");
  return key;
}

RsaKey RsaKey::FromPem(const std::string& pem) {
  RsaKey key;
  // The PEM parser wants the terminating zero counted in the length.
  CheckMbedTls(mbedtls_pk_parse_key(key.get(), reinterpret_cast<const unsigned char*>(pem.c_str()),
                                    pem.size() + 1, nullptr, 0),
               "reading the private key");
  if (mbedtls_pk_get_type(key.get()) != MBEDTLS_PK_RSA) {
    throw std::runtime_error("the private key is not an RSA key");
  }
  return key;
}

RsaKey RsaKey::FromPemFile(const std::string& path) {
  const Bytes pem = ReadFileBytes(path);
  return FromPem(std::string(pem.begin(), pem.end()));
}

std::string RsaKey::PrivatePem() const {
  std::string pem(16000, '\0');
  CheckMbedTls(
      mbedtls_pk_write_key_pem(get(), reinterpret_cast<unsigned char*>(pem.data()), pem.size()),
      "writing the private key");
  pem.resize(pem.find('\0'));
  return pem;
}

Bytes RsaKey::Sign(Digest digest, const Bytes& data) const {
  const Bytes hash = DigestOf(digest, data);
  Bytes signature(MBEDTLS_PK_SIGNATURE_MAX_SIZE);
  size_t length = 0;
  CheckMbedTls(mbedtls_pk_sign(get(), MdType(digest), hash.data(), hash.size(), signature.data(),
                               &length, RandomBytes, nullptr),
               "signing");
  signature.resize(length);
  return signature;
}

Bytes RsaKey::KeyIdentifier() const {
  unsigned char buffer[4096];
  unsigned char* end = buffer + sizeof buffer;
  unsigned char* p = end;
  const int length = mbedtls_pk_write_pubkey(&p, buffer, get());
  if (length < 0) CheckMbedTls(length, "writing the public key");
  return DigestOf(Digest::kSha1, Bytes(p, end));
}

unsigned RsaKey::Bits() const { return static_cast<unsigned>(mbedtls_pk_get_bitlen(get())); }

}  // namespace qalv::writer
