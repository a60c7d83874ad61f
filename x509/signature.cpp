#include "x509/signature.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <span>

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

// The exact DER DigestInfo of each accepted digest, up to the digest itself.
constexpr uint8_t kMd5Prefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                  0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr uint8_t kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t kSha224Prefix[] = {0x30, 0x2D, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1C};
constexpr uint8_t kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

struct AcceptedDigest {
  std::span<const uint8_t> prefix;
  size_t length;
  int32_t id;
  int (*compute)(const uint8_t* data, size_t dataLength, uint8_t* out);
};

// The digests a DigestInfo signature may use. The recogniser below finds
// which one a block names; the block is then accepted only when its payload
// is that entry's prefix followed by the data's digest, byte for byte.
constexpr AcceptedDigest kAcceptedDigests[] = {
    {kMd5Prefix, 16, digest_id::kMd5,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_md5_ret(data, n, out); }},
    {kSha1Prefix, 20, digest_id::kSha1,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_sha1_ret(data, n, out); }},
    {kSha224Prefix, 28, digest_id::kSha224,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_sha256_ret(data, n, out, 1); }},
    {kSha256Prefix, 32, digest_id::kSha256,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_sha256_ret(data, n, out, 0); }},
};
constexpr const AcceptedDigest& kMd5 = kAcceptedDigests[0];
constexpr const AcceptedDigest& kSha1 = kAcceptedDigests[1];
constexpr const AcceptedDigest& kSha224 = kAcceptedDigests[2];
constexpr const AcceptedDigest& kSha256 = kAcceptedDigests[3];
constexpr size_t kLongestDigestInfo = [] {
  size_t longest = 0;
  for (const AcceptedDigest& accepted : kAcceptedDigests) {
    longest = std::max(longest, accepted.prefix.size() + accepted.length);
  }
  return longest;
}();

// The recogniser reads the MD family and the SHA-2 family each through one
// skeleton: the MD5 and SHA-256 prefixes with the bytes that vary within the
// family left out.
constexpr size_t kMdAlgorithmAt = 13;
constexpr size_t kSha2OuterLengthAt = 1;
constexpr size_t kSha2AlgorithmAt = 14;
constexpr size_t kSha2DigestLengthAt = 18;
// The outer length byte of a SHA-2 DigestInfo exceeds the digest length by this.
constexpr int kSha2LengthOverhead = 17;

// The block, the digest and the DigestInfo expected of the block, held while
// verifying and wiped on every return.
struct WorkBuffers {
  uint8_t block[kMaxModulusLength] = {};
  uint8_t digest[64] = {};
  uint8_t expected[kLongestDigestInfo] = {};

  WorkBuffers() = default;
  WorkBuffers(const WorkBuffers&) = delete;
  WorkBuffers& operator=(const WorkBuffers&) = delete;
  ~WorkBuffers() {
    mbedtls_platform_zeroize(block, sizeof block);
    mbedtls_platform_zeroize(digest, sizeof digest);
    mbedtls_platform_zeroize(expected, sizeof expected);
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
[[nodiscard]] int32_t StripPadding(const mbedtls_rsa_context& ctx, const uint8_t* em, size_t k,
                                   const uint8_t*& payload, size_t& payloadLength) {
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

// The accepted digest a block names, and where its signed digest lies in the
// payload.
struct NamedDigest {
  const AcceptedDigest* digest = nullptr;
  size_t at = 0;
};

// Whether `t` starts with `skeleton`, the positions in `free` left out.
bool MatchesSkeleton(const uint8_t* t, std::span<const uint8_t> skeleton,
                     std::initializer_list<size_t> free) {
  for (size_t i = 0; i < skeleton.size(); ++i) {
    if (t[i] != skeleton[i] && std::find(free.begin(), free.end(), i) == free.end()) return false;
  }
  return true;
}

[[nodiscard]] int32_t RecogniseMdFamily(const uint8_t* t, int32_t& digestId, NamedDigest& named) {
  if (!MatchesSkeleton(t, kMd5.prefix, {kMdAlgorithmAt})) return signature::kUnrecognisedDigestInfo;
  switch (t[kMdAlgorithmAt]) {
    case 5:
      named = {&kMd5, kMd5.prefix.size()};
      return 0;
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

// The algorithm number a SHA-2 DigestInfo of this payload length carries.
uint8_t Sha2AlgorithmFor(size_t len) {
  switch (len) {
    case 47: return 4;
    case 51: return 1;
    case 67: return 2;
    default: return 3;
  }
}

// The outer length byte, not the payload length, gives the digest length.
// What that lets through beyond the exact encoding (a SHA-224 digest behind
// another SHA-2 identifier, spare bytes after the digest) CheckNamedDigest
// refuses.
[[nodiscard]] int32_t RecogniseSha2Family(const uint8_t* t, size_t len, int32_t& digestId,
                                          NamedDigest& named) {
  if (t[kSha2AlgorithmAt] != Sha2AlgorithmFor(len)) return signature::kUnrecognisedDigestInfo;
  const int digestLength = t[kSha2OuterLengthAt] - kSha2LengthOverhead;
  if (t[kSha2DigestLengthAt] != digestLength ||
      !MatchesSkeleton(t, kSha256.prefix,
                       {kSha2OuterLengthAt, kSha2AlgorithmAt, kSha2DigestLengthAt})) {
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
      named = {&kSha224, kSha224.prefix.size()};
      break;
    case 32:
      named = {&kSha256, kSha256.prefix.size()};
      break;
    default:
      return signature::kUnrecognisedDigestInfo;
  }
  // A SHA-224-sized payload may claim a 32-byte digest, which would run past it.
  if (named.at + named.digest->length > len) return signature::kUnrecognisedDigestInfo;
  return 0;
}

// Which accepted digest the payload names; 1136 for a layout it does not
// know, 1137 (identifier written) for a digest it refuses.
[[nodiscard]] int32_t RecogniseDigestInfo(const uint8_t* t, size_t len, int32_t& digestId,
                                          NamedDigest& named) {
  switch (len) {
    case 34:
      return RecogniseMdFamily(t, digestId, named);
    case 35:
      if (!MatchesSkeleton(t, kSha1.prefix, {})) return signature::kUnrecognisedDigestInfo;
      named = {&kSha1, kSha1.prefix.size()};
      return 0;
    case 47:
    case 51:
    case 67:
    case 83:
      return RecogniseSha2Family(t, len, digestId, named);
    default:
      return signature::kUnrecognisedDigestInfo;
  }
}

// Compares the signed digest where the recogniser found it, then the whole
// payload with the DER DigestInfo of that digest over the data: a layout the
// recogniser reads leniently (spare bytes after the digest, a digest shorter
// than its algorithm's) is refused even when its digest matches.
[[nodiscard]] int32_t CheckNamedDigest(const NamedDigest& named, const uint8_t* t, size_t len,
                                       const uint8_t* data, size_t dataLength, WorkBuffers& work,
                                       int32_t& digestId) {
  const AcceptedDigest& accepted = *named.digest;
  const uint8_t* signedDigest = t + named.at;
  digestId = accepted.id;
  const int ret = accepted.compute(data, dataLength, work.digest);
  // The reader's log has always shown the SHA-2 digests, the computed one
  // for SHA-256 only.
  if (&accepted == &kSha256) {
    trace::Log("calc hash");
    trace::Dump(work.digest, accepted.length);
  }
  if (&accepted == &kSha224 || &accepted == &kSha256) {
    trace::Log("sign hash");
    trace::Dump(signedDigest, accepted.length);
  }
  // A digest routine that cannot run must not leave a zeroed digest to be
  // compared as if it were the data's.
  if (ret != 0 || std::memcmp(work.digest, signedDigest, accepted.length) != 0) {
    return signature::kDigestMismatch;
  }

  const std::span<const uint8_t> prefix = accepted.prefix;
  std::copy(prefix.begin(), prefix.end(), work.expected);
  std::copy_n(work.digest, accepted.length, work.expected + prefix.size());
  if (len != prefix.size() + accepted.length || std::memcmp(t, work.expected, len) != 0) {
    return signature::kUnrecognisedDigestInfo;
  }
  return 0;
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

  const uint8_t* t = nullptr;
  size_t len = 0;
  result = StripPadding(*ctx, work.block, k, t, len);
  if (result != 0) return result;

  if (len == dataLength) {
    digestId = digest_id::kNone;
    if (len == 0 || std::memcmp(t, data, len) == 0) return 0;
  }
  NamedDigest named;
  result = RecogniseDigestInfo(t, len, digestId, named);
  if (result != 0) return result;
  return CheckNamedDigest(named, t, len, data, dataLength, work, digestId);
}

}  // namespace qalv
