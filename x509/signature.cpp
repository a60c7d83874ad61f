#include "x509/signature.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <span>

#include <mbedtls/bignum.h>
#include <mbedtls/md5.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include "der/cursor.h"
#include "platform/trace.h"

namespace qalv {
namespace {

constexpr size_t kMinModulusLength = 16;
constexpr size_t kMaxModulusLength = 1024;

// The exact DER DigestInfo of each digest a block may name, up to the digest.
constexpr uint8_t kMd2Prefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                  0x86, 0xF7, 0x0D, 0x02, 0x02, 0x05, 0x00, 0x04, 0x10};
constexpr uint8_t kMd4Prefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                  0x86, 0xF7, 0x0D, 0x02, 0x04, 0x05, 0x00, 0x04, 0x10};
constexpr uint8_t kMd5Prefix[] = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                  0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr uint8_t kSha1Prefix[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                   0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
constexpr uint8_t kSha224Prefix[] = {0x30, 0x2D, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x04, 0x05, 0x00, 0x04, 0x1C};
constexpr uint8_t kSha256Prefix[] = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
constexpr uint8_t kSha384Prefix[] = {0x30, 0x41, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x02, 0x05, 0x00, 0x04, 0x30};
constexpr uint8_t kSha512Prefix[] = {0x30, 0x51, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x03, 0x05, 0x00, 0x04, 0x40};

// Digests whose DigestInfo differ only in the OID's last byte and the two
// length bytes.
enum class Family : uint8_t { kMd, kSha1, kSha2 };

using DigestFunction = int (*)(const uint8_t* data, size_t dataLength, uint8_t* out);

struct DigestRow {
  Family family;
  der::Bytes prefix;
  size_t length;
  int32_t id;
  DigestFunction compute;  // nullptr: named, but refused

  constexpr size_t total() const { return prefix.size() + length; }
};

// Every digest a block may name. A block is accepted only when its payload
// is a computable row's prefix followed by the data's digest, byte for byte.
constexpr DigestRow kDigests[] = {
    {Family::kMd, kMd2Prefix, 16, digest_id::kMd2, nullptr},
    {Family::kMd, kMd4Prefix, 16, digest_id::kMd4, nullptr},
    {Family::kMd, kMd5Prefix, 16, digest_id::kMd5,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_md5_ret(data, n, out); }},
    {Family::kSha1, kSha1Prefix, 20, digest_id::kSha1,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_sha1_ret(data, n, out); }},
    {Family::kSha2, kSha224Prefix, 28, digest_id::kSha224,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_sha256_ret(data, n, out, 1); }},
    {Family::kSha2, kSha256Prefix, 32, digest_id::kSha256,
     [](const uint8_t* data, size_t n, uint8_t* out) { return mbedtls_sha256_ret(data, n, out, 0); }},
    {Family::kSha2, kSha384Prefix, 48, digest_id::kSha384, nullptr},
    {Family::kSha2, kSha512Prefix, 64, digest_id::kSha512, nullptr},
};
constexpr size_t Longest(size_t (*measure)(const DigestRow&)) {
  size_t longest = 0;
  for (const DigestRow& row : kDigests) longest = std::max(longest, measure(row));
  return longest;
}
constexpr size_t kLongestDigest = Longest([](const DigestRow& row) { return row.length; });
constexpr size_t kLongestDigestInfo = Longest([](const DigestRow& row) { return row.total(); });

// Where a prefix holds the bytes a block may vary: 30 len 30 len 06 len OID
// .. 04 len. The outer length and the digest's length say how long a digest
// the block claims; the OID's last byte says which member of the family.
constexpr size_t kOuterLengthAt = 1;
constexpr size_t kOidLengthAt = 5;

constexpr size_t OidLastAt(const DigestRow& row) { return kOidLengthAt + row.prefix[kOidLengthAt]; }
constexpr size_t DigestLengthAt(const DigestRow& row) { return row.prefix.size() - 1; }

// What the recogniser relies on: the rows of a family are laid out alike.
static_assert([] {
  for (const DigestRow& a : kDigests) {
    for (const DigestRow& b : kDigests) {
      if (a.family != b.family) continue;
      if (a.prefix.size() != b.prefix.size()) return false;
      for (size_t i = 0; i < a.prefix.size(); ++i) {
        const bool mayVary = i == kOuterLengthAt || i == OidLastAt(a) || i == DigestLengthAt(a);
        if (a.prefix[i] != b.prefix[i] && !mayVary) return false;
      }
    }
  }
  return true;
}());

// The block, the digest and the DigestInfo expected of the block, held while
// verifying and wiped on every return.
struct WorkBuffers {
  uint8_t block[kMaxModulusLength] = {};
  uint8_t digest[kLongestDigest] = {};
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
[[nodiscard]] int32_t PublicOperation(const mbedtls_rsa_context& ctx, der::Bytes signatureBytes,
                                      std::span<uint8_t> em) {
  Mpi value;
  int ret = mbedtls_mpi_read_binary(value.get(), signatureBytes.data(), em.size());
  if (ret != 0) return ArithmeticFailure(ret);
  if (mbedtls_mpi_cmp_mpi(value.get(), &ctx.N) >= 0) return signature::kBadInput;
  ret = mbedtls_mpi_exp_mod(value.get(), value.get(), &ctx.E, &ctx.N, nullptr);
  if (ret != 0) return ArithmeticFailure(ret);
  ret = mbedtls_mpi_write_binary(value.get(), em.data(), em.size());
  if (ret != 0) return ArithmeticFailure(ret);
  return 0;
}

// Finds the payload after 00 01 FF .. FF 00.
[[nodiscard]] int32_t StripPadding(const mbedtls_rsa_context& ctx, der::Bytes em,
                                   der::Bytes& payload) {
  if (ctx.padding != MBEDTLS_RSA_PKCS_V15 || em[0] != 0x00 || em[1] != 0x01) {
    return signature::kBadPadding;
  }
  size_t at = 2;
  while (em[at] != 0x00) {
    if (em[at] != 0xFF || at == em.size() - 1) return signature::kBadPadding;
    ++at;
  }
  payload = em.subspan(at + 1);
  return 0;
}

// Whether the payload starts with `row`'s prefix, the positions in `free` aside.
bool Follows(der::Bytes t, const DigestRow& row, std::initializer_list<size_t> free) {
  for (size_t i = 0; i < row.prefix.size(); ++i) {
    if (t[i] != row.prefix[i] && std::find(free.begin(), free.end(), i) == free.end()) return false;
  }
  return true;
}

// The row the payload is laid out as: one of its own total length whose
// prefix it follows apart from the two length bytes.
const DigestRow* LaidOutAs(der::Bytes t) {
  for (const DigestRow& row : kDigests) {
    if (row.total() == t.size() && Follows(t, row, {kOuterLengthAt, DigestLengthAt(row)})) {
      return &row;
    }
  }
  return nullptr;
}

// The row of `slot`'s family whose length bytes the payload carries: `slot`
// itself when they are its own. The digest is read by these, so a block may
// claim a digest other than its algorithm's; the exact comparison refuses it.
const DigestRow* Claimed(der::Bytes t, const DigestRow& slot) {
  const auto carries = [t](const DigestRow& row) {
    return t[kOuterLengthAt] == row.prefix[kOuterLengthAt] &&
           t[DigestLengthAt(row)] == row.prefix[DigestLengthAt(row)];
  };
  if (carries(slot)) return &slot;
  for (const DigestRow& row : kDigests) {
    if (row.family == slot.family && carries(row)) return &row;
  }
  return nullptr;
}

// The MD family names its members by the OID's last byte alone: a number
// the table lacks still names an MD digest, one the verifier does not know.
bool NamesUnknownMdDigest(der::Bytes t) {
  return std::any_of(std::begin(kDigests), std::end(kDigests), [t](const DigestRow& row) {
    return row.family == Family::kMd && row.total() == t.size() &&
           Follows(t, row, {OidLastAt(row)});
  });
}

// Which computable row the payload names; 1136 for a layout it does not
// know, 1137 (identifier written) for a digest it refuses.
[[nodiscard]] int32_t RecogniseDigestInfo(der::Bytes t, int32_t& digestId,
                                          const DigestRow*& named) {
  const DigestRow* slot = LaidOutAs(t);
  if (slot == nullptr) {
    if (!NamesUnknownMdDigest(t)) return signature::kUnrecognisedDigestInfo;
    digestId = digest_id::kNone;
    return signature::kRefusedDigest;
  }
  const DigestRow* claimed = Claimed(t, *slot);
  if (claimed == nullptr) return signature::kUnrecognisedDigestInfo;
  if (claimed->compute == nullptr) {
    digestId = claimed->id;
    return signature::kRefusedDigest;
  }
  // A SHA-224-sized payload may claim a 32-byte digest, which would run past it.
  if (claimed->total() > t.size()) return signature::kUnrecognisedDigestInfo;
  named = claimed;
  return 0;
}

// Compares the signed digest where the named row puts it, then the whole
// payload with the DER DigestInfo of that digest over the data: a layout the
// recogniser reads leniently (spare bytes after the digest, a digest shorter
// than its algorithm's) is refused even when its digest matches.
[[nodiscard]] int32_t CheckNamedDigest(const DigestRow& named, der::Bytes t, der::Bytes data,
                                       WorkBuffers& work, int32_t& digestId) {
  const der::Bytes signedDigest = t.subspan(named.prefix.size(), named.length);
  digestId = named.id;
  const int ret = named.compute(data.data(), data.size(), work.digest);
  // The reader's log has always shown the SHA-2 digests, the computed one
  // for SHA-256 only.
  if (named.id == digest_id::kSha256) {
    trace::Log("calc hash");
    trace::Dump(work.digest, named.length);
  }
  if (named.id == digest_id::kSha224 || named.id == digest_id::kSha256) {
    trace::Log("sign hash");
    trace::Dump(signedDigest.data(), signedDigest.size());
  }
  const der::Bytes digest(work.digest, named.length);
  // A digest routine that cannot run must not leave a zeroed digest to be
  // compared as if it were the data's.
  if (ret != 0 || !der::SameBytes(digest, signedDigest)) return signature::kDigestMismatch;

  const std::span<uint8_t> expected(work.expected, named.total());
  std::copy(named.prefix.begin(), named.prefix.end(), expected.begin());
  std::copy(digest.begin(), digest.end(), expected.begin() + named.prefix.size());
  return der::SameBytes(t, expected) ? 0 : signature::kUnrecognisedDigestInfo;
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
  const std::span<uint8_t> block(work.block, k);
  int32_t result = PublicOperation(*ctx, der::Bytes(signatureBytes, k), block);
  if (result != 0) return result;

  der::Bytes payload;
  result = StripPadding(*ctx, block, payload);
  if (result != 0) return result;

  const der::Bytes signedData(data, dataLength);
  if (payload.size() == signedData.size()) {
    digestId = digest_id::kNone;
    if (der::SameBytes(payload, signedData)) return 0;
  }
  const DigestRow* named = nullptr;
  result = RecogniseDigestInfo(payload, digestId, named);
  if (result != 0) return result;
  return CheckNamedDigest(*named, payload, signedData, work, digestId);
}

}  // namespace qalv
