#include "verify/signature.h"

#include <cstring>

#include <mbedtls/bignum.h>
#include <mbedtls/md5.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include "platform/trace.h"

namespace qalv {
namespace {

constexpr size_t kMinModulusLength = 16;
constexpr size_t kMaxModulusLength = 1024;

// DigestInfo prefixes. The bytes the recogniser masks before comparing hold
// the value they are masked to: the MD algorithm number (index 13), and for
// SHA-2 the outer length (index 1) and the algorithm number (index 14).
constexpr uint8_t kMdPrefix[18] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                   0x86, 0xF7, 0x0D, 0x02, 0x00, 0x05, 0x00, 0x04, 0x10};
constexpr uint8_t kSha1Prefix[15] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                     0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t kSha2Prefix[18] = {0x30, 0x11, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48,
                                     0x01, 0x65, 0x03, 0x04, 0x02, 0x00, 0x05, 0x00, 0x04};

constexpr size_t kMdAlgorithmAt = 13;
constexpr size_t kMdDigestAt = 18;
constexpr size_t kSha1DigestAt = 15;
constexpr size_t kSha2OuterLengthAt = 1;
constexpr size_t kSha2AlgorithmAt = 14;
constexpr size_t kSha2DigestLengthAt = 18;
constexpr size_t kSha2DigestAt = 19;
// The outer length byte of a SHA-2 DigestInfo exceeds the digest length by this.
constexpr int kSha2LengthOverhead = 17;

// The block and the digest held while verifying, wiped on every return.
struct WorkBuffers {
  uint8_t block[kMaxModulusLength] = {};
  uint8_t digest[64] = {};

  WorkBuffers() = default;
  WorkBuffers(const WorkBuffers&) = delete;
  WorkBuffers& operator=(const WorkBuffers&) = delete;
  ~WorkBuffers() {
    mbedtls_platform_zeroize(block, sizeof block);
    mbedtls_platform_zeroize(digest, sizeof digest);
  }
};

class Mpi {
 public:
  Mpi() { mbedtls_mpi_init(&value_); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  ~Mpi() { mbedtls_mpi_free(&value_); }
  mbedtls_mpi* get() { return &value_; }

 private:
  mbedtls_mpi value_;
};

int32_t ArithmeticFailure(int mbedtlsCode) {
  return signature::kArithmeticFailed | static_cast<int32_t>(-mbedtlsCode);
}

// EM := signature^E mod N, written as k bytes. The key's own blinding cache
// is left alone so that concurrent callers sharing a key do not race.
[[nodiscard]] int32_t PublicOperation(const mbedtls_rsa_context& ctx, const uint8_t* signatureBytes,
                                      size_t k, uint8_t* em) {
  Mpi value;
  int ret = mbedtls_mpi_read_binary(value.get(), signatureBytes, k);
  if (ret != 0) return ArithmeticFailure(ret);
  if (mbedtls_mpi_cmp_mpi(value.get(), &ctx.N) >= 0) return signature::kBadInput;
  ret = mbedtls_mpi_exp_mod(value.get(), value.get(), &ctx.E, &ctx.N, nullptr);
  if (ret != 0) return ArithmeticFailure(ret);
  ret = mbedtls_mpi_write_binary(value.get(), em, k);
  if (ret != 0) return ArithmeticFailure(ret);
  return 0;
}

// Finds the payload after 00 01 FF .. FF 00.
[[nodiscard]] int32_t StripPadding(const mbedtls_rsa_context& ctx, uint8_t* em, size_t k,
                                   uint8_t*& payload, size_t& payloadLength) {
  if (ctx.padding != MBEDTLS_RSA_PKCS_V15 || em[0] != 0x00 || em[1] != 0x01) {
    return signature::kBadPadding;
  }
  size_t at = 2;
  while (em[at] != 0x00) {
    if (em[at] != 0xFF || at == k - 1) return signature::kBadPadding;
    ++at;
  }
  payload = em + at + 1;
  payloadLength = k - at - 1;
  return 0;
}

// A digest routine that cannot run must not leave a zeroed digest to be
// compared as if it were the data's.
[[nodiscard]] int32_t CompareDigest(int digestRet, const uint8_t* computed, const uint8_t* signedDigest,
                                    size_t length) {
  if (digestRet != 0) return signature::kDigestMismatch;
  return std::memcmp(computed, signedDigest, length) == 0 ? 0 : signature::kDigestMismatch;
}

[[nodiscard]] int32_t CheckMdFamily(uint8_t* t, const uint8_t* data, size_t dataLength,
                                    uint8_t* digest, int32_t& digestId) {
  const uint8_t algorithm = t[kMdAlgorithmAt];
  t[kMdAlgorithmAt] = 0;
  if (std::memcmp(t, kMdPrefix, sizeof kMdPrefix) != 0) return signature::kUnrecognisedDigestInfo;
  switch (algorithm) {
    case 5:
      digestId = digest_id::kMd5;
      return CompareDigest(mbedtls_md5_ret(data, dataLength, digest), digest, t + kMdDigestAt, 16);
    case 4:
      digestId = digest_id::kMd4;
      return signature::kRefusedDigest;
    case 2:
      digestId = digest_id::kMd2;
      return signature::kRefusedDigest;
    default:
      digestId = digest_id::kNone;
      return signature::kRefusedDigest;
  }
}

[[nodiscard]] int32_t CheckSha1(const uint8_t* t, const uint8_t* data, size_t dataLength,
                                uint8_t* digest, int32_t& digestId) {
  if (std::memcmp(t, kSha1Prefix, sizeof kSha1Prefix) != 0) {
    return signature::kUnrecognisedDigestInfo;
  }
  digestId = digest_id::kSha1;
  return CompareDigest(mbedtls_sha1_ret(data, dataLength, digest), digest, t + kSha1DigestAt, 20);
}

// The algorithm number a SHA-2 DigestInfo of this payload length carries.
uint8_t Sha2AlgorithmFor(size_t len) {
  switch (len) {
    case 47: return 4;
    case 51: return 1;
    case 67: return 2;
    default: return 3;
  }
}

[[nodiscard]] int32_t CheckSha2Family(uint8_t* t, size_t len, const uint8_t* data, size_t dataLength,
                                      uint8_t* digest, int32_t& digestId) {
  if (t[kSha2AlgorithmAt] != Sha2AlgorithmFor(len)) return signature::kUnrecognisedDigestInfo;
  const int digestLength = t[kSha2OuterLengthAt] - kSha2LengthOverhead;
  t[kSha2OuterLengthAt] = kSha2LengthOverhead;
  t[kSha2AlgorithmAt] = 0;
  if (t[kSha2DigestLengthAt] != digestLength ||
      std::memcmp(t, kSha2Prefix, sizeof kSha2Prefix) != 0) {
    return signature::kUnrecognisedDigestInfo;
  }
  switch (digestLength) {
    case 48:
      digestId = digest_id::kSha384;
      return signature::kRefusedDigest;
    case 64:
      digestId = digest_id::kSha512;
      return signature::kRefusedDigest;
    case 28:
    case 32:
      break;
    default:
      return signature::kUnrecognisedDigestInfo;
  }
  // The outer length byte is not tied to the payload length: a SHA-224-sized
  // payload may claim a 32-byte digest, which would run past the payload.
  const size_t signedLength = static_cast<size_t>(digestLength);
  if (kSha2DigestAt + signedLength > len) return signature::kUnrecognisedDigestInfo;
  int ret = 0;
  if (digestLength == 28) {
    digestId = digest_id::kSha224;
    ret = mbedtls_sha256_ret(data, dataLength, digest, 1);
  } else {
    digestId = digest_id::kSha256;
    ret = mbedtls_sha256_ret(data, dataLength, digest, 0);
    trace::Log("calc hash");
    trace::Dump(digest, 32);
  }
  trace::Log("sign hash");
  trace::Dump(t + kSha2DigestAt, signedLength);
  return CompareDigest(ret, digest, t + kSha2DigestAt, signedLength);
}

}  // namespace

int32_t VerifySignature(const RsaPublicKey& key, int32_t& digestId, const uint8_t* data,
                        size_t dataLength, const uint8_t* signatureBytes, size_t signatureLength) {
  WorkBuffers work;
  const mbedtls_rsa_context* ctx = key.get();
  const size_t k = key.length();
  if (k < kMinModulusLength || k > kMaxModulusLength || signatureLength < k) {
    return signature::kBadInput;
  }
  int32_t result = PublicOperation(*ctx, signatureBytes, k, work.block);
  if (result != 0) return result;

  uint8_t* t = nullptr;
  size_t len = 0;
  result = StripPadding(*ctx, work.block, k, t, len);
  if (result != 0) return result;

  if (len == dataLength) {
    digestId = digest_id::kNone;
    if (len == 0 || std::memcmp(t, data, len) == 0) return 0;
  }
  switch (len) {
    case 34:
      return CheckMdFamily(t, data, dataLength, work.digest, digestId);
    case 35:
      return CheckSha1(t, data, dataLength, work.digest, digestId);
    case 47:
    case 51:
    case 67:
    case 83:
      return CheckSha2Family(t, len, data, dataLength, work.digest, digestId);
    default:
      return signature::kUnrecognisedDigestInfo;
  }
}

}  // namespace qalv
