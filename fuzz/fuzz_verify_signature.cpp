// Fuzzes the signature verifier with a fixed 1024-bit key.
//
// Random signatures almost never decrypt to a padded block, so most inputs
// choose the block instead and the harness signs it with the private half:
//   byte 0 (low 2 bits): 0 the signature is given as is;
//                        1 the block is given (zero-filled to k bytes);
//                        2 the payload is given and padded 00 01 FF .. 00;
//                        3 as 2, with a digest of the data appended, chosen
//                          by byte 0's next two bits;
//   byte 1: how many of the following bytes are the signature, block or
//           payload; the rest is the signed data.
//
// mbed TLS's own verifier, which encodes the DigestInfo and compares the
// whole block, is the model for the digests the verifier accepts: for each of
// them both must give the same answer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <mbedtls/md.h>
#include <mbedtls/md5.h>
#include <mbedtls/rsa.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include "fuzz/quiet_trace.h"
#include "x509/signature.h"

namespace {

constexpr size_t kModulusLength = 128;

constexpr uint8_t kPrime1[64] = {
    0xf4, 0x78, 0x0c, 0x34, 0x67, 0x58, 0xdd, 0x1c, 0xa9, 0xc5, 0x26, 0xff, 0xd5, 0x9c, 0x23, 0x76,
    0xa2, 0x0d, 0xd9, 0x02, 0x32, 0x9d, 0x7b, 0x54, 0xd6, 0x08, 0xa2, 0xb1, 0x91, 0x37, 0xaa, 0xf9,
    0x9d, 0x61, 0xe5, 0x15, 0x5d, 0xb6, 0x8c, 0x99, 0x95, 0x23, 0x63, 0x63, 0x79, 0x35, 0x14, 0x09,
    0xc7, 0x5f, 0x12, 0xba, 0x07, 0xa5, 0x44, 0x1a, 0x4c, 0xd3, 0x24, 0xaa, 0x60, 0x55, 0x3b, 0xbf};
constexpr uint8_t kPrime2[64] = {
    0xe1, 0x12, 0x01, 0x19, 0x99, 0x4a, 0x32, 0xf8, 0xe0, 0xd9, 0xc5, 0x77, 0x44, 0x0d, 0xd6, 0xa0,
    0xd6, 0xbf, 0x02, 0x55, 0x3c, 0x5d, 0x1b, 0xab, 0xc2, 0x90, 0x35, 0x5e, 0xf8, 0x3f, 0x5b, 0x80,
    0x2a, 0xf7, 0xfe, 0x0c, 0x9d, 0xa3, 0x20, 0x26, 0xaf, 0xae, 0xbe, 0xbd, 0x99, 0x72, 0xa5, 0xde,
    0xaf, 0xe2, 0x29, 0xc0, 0x58, 0x44, 0x21, 0x4e, 0xd1, 0xfc, 0xaf, 0x25, 0x9b, 0x2d, 0x59, 0x05};
constexpr uint8_t kExponent[3] = {0x01, 0x00, 0x01};

// The key pair, and trace sinks that run the formatting but print nothing
// (the replay driver calls no initialiser, so this is set up on first use).
struct Fixture {
  mbedtls_rsa_context priv;
  qalv::RsaPublicKey pub;

  Fixture() {
    qalv::fuzz::QuietTrace();
    mbedtls_rsa_init(&priv, MBEDTLS_RSA_PKCS_V15, 0);
    uint8_t modulus[kModulusLength];
    if (mbedtls_rsa_import_raw(&priv, nullptr, 0, kPrime1, sizeof kPrime1, kPrime2,
                               sizeof kPrime2, nullptr, 0, kExponent, sizeof kExponent) != 0 ||
        mbedtls_rsa_complete(&priv) != 0 ||
        mbedtls_rsa_export_raw(&priv, modulus, sizeof modulus, nullptr, 0, nullptr, 0, nullptr, 0,
                               nullptr, 0) != 0 ||
        mbedtls_rsa_import_raw(pub.get(), modulus, sizeof modulus, nullptr, 0, nullptr, 0,
                               nullptr, 0, kExponent, sizeof kExponent) != 0 ||
        mbedtls_rsa_complete(pub.get()) != 0 || pub.length() != kModulusLength) {
      std::abort();
    }
  }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;
  ~Fixture() { mbedtls_rsa_free(&priv); }
};

Fixture& TheFixture() {
  static Fixture fixture;
  return fixture;
}

int FillRandom(void*, unsigned char* out, size_t length) {
  for (size_t i = 0; i < length; ++i) out[i] = static_cast<unsigned char>(i * 131 + 7);
  return 0;
}

// Appends the digest of `data` chosen by `which`; returns its length.
size_t AppendDigest(unsigned which, const uint8_t* data, size_t length, uint8_t* out) {
  switch (which) {
    case 0: return mbedtls_md5_ret(data, length, out) == 0 ? 16 : 0;
    case 1: return mbedtls_sha1_ret(data, length, out) == 0 ? 20 : 0;
    case 2: return mbedtls_sha256_ret(data, length, out, 1) == 0 ? 28 : 0;
    default: return mbedtls_sha256_ret(data, length, out, 0) == 0 ? 32 : 0;
  }
}

// Whether mbed TLS accepts `sig` as the PKCS #1 v1.5 signature of the `md`
// digest of the data.
bool ModelAccepts(Fixture& fixture, mbedtls_md_type_t md, const uint8_t* data, size_t dataLength,
                  const uint8_t* sig) {
  const mbedtls_md_info_t* info = mbedtls_md_info_from_type(md);
  uint8_t hash[MBEDTLS_MD_MAX_SIZE];
  if (mbedtls_md(info, data, dataLength, hash) != 0) std::abort();
  return mbedtls_rsa_pkcs1_verify(fixture.pub.get(), nullptr, nullptr, MBEDTLS_RSA_PUBLIC, md,
                                  mbedtls_md_get_size(info), hash, sig) == 0;
}

bool IsKnownCode(int32_t code) {
  using namespace qalv::signature;
  if ((code & ~0x3F) == kArithmeticFailed) return true;
  return code == 0 || code == kBadInput || code == kBadPadding || code == kDigestMismatch ||
         code == kUnrecognisedDigestInfo || code == kRefusedDigest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const unsigned mode = input[0] & 3;
  const size_t given = std::min<size_t>(input[1], size - 2);
  const uint8_t* head = input + 2;
  const uint8_t* data = head + given;
  const size_t dataLength = size - 2 - given;
  Fixture& fixture = TheFixture();

  uint8_t block[kModulusLength] = {};
  uint8_t signature[kModulusLength];
  const uint8_t* sig = head;
  size_t sigLength = given;
  if (mode != 0) {
    if (mode == 1) {
      std::memcpy(block, head, std::min(given, kModulusLength));
    } else {
      uint8_t payload[kModulusLength];
      size_t payloadLength = std::min(given, kModulusLength - 3);
      std::memcpy(payload, head, payloadLength);
      if (mode == 3 && payloadLength + 32 <= kModulusLength - 3) {
        payloadLength += AppendDigest((input[0] >> 2) & 3, data, dataLength, payload + payloadLength);
      }
      block[1] = 0x01;
      std::memset(block + 2, 0xFF, kModulusLength - 3 - payloadLength);
      std::memcpy(block + kModulusLength - payloadLength, payload, payloadLength);
    }
    // A block not below N has no signature; such inputs say nothing new.
    if (mbedtls_rsa_private(&fixture.priv, FillRandom, nullptr, block, signature) != 0) {
      return 0;
    }
    sig = signature;
    sigLength = kModulusLength;
  }

  // The caller's value must survive every refusal made before the DigestInfo
  // is read.
  constexpr int32_t kUnset = -7;
  int32_t digestId = kUnset;
  const int32_t result = qalv::VerifySignature(fixture.pub, digestId, data, dataLength, sig, sigLength);
  if (!IsKnownCode(result)) std::abort();
  if ((result == qalv::signature::kBadInput || result == qalv::signature::kBadPadding) &&
      digestId != kUnset) {
    std::abort();
  }
  if (mode != 0 && result == qalv::signature::kBadInput) std::abort();

  if (sigLength < kModulusLength) return 0;
  const struct {
    mbedtls_md_type_t md;
    int32_t id;
  } accepted[] = {{MBEDTLS_MD_MD5, qalv::digest_id::kMd5},
                  {MBEDTLS_MD_SHA1, qalv::digest_id::kSha1},
                  {MBEDTLS_MD_SHA224, qalv::digest_id::kSha224},
                  {MBEDTLS_MD_SHA256, qalv::digest_id::kSha256}};
  for (const auto& [md, id] : accepted) {
    if (ModelAccepts(fixture, md, data, dataLength, sig) != (result == 0 && digestId == id)) {
      std::abort();
    }
  }
  return 0;
}
