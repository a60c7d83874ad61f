#include "net/authenticators.h"

#include <fstream>

#include <mbedtls/platform_util.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include "platform/sealed_storage.h"

namespace qalv {
namespace {

constexpr size_t kMaxKeyIdLength = 65;
constexpr size_t kSha1Length = 20;
constexpr size_t kSha256Length = 32;
constexpr int32_t kSha256DigestId = 11;
constexpr size_t kFileChunk = 1024;

// HexUpper into a string, for key identifiers and digests (at most 65
// bytes); false for anything longer.
[[nodiscard]] bool HexString(const uint8_t* bytes, size_t count, std::string& text) {
  char buffer[2 * kMaxKeyIdLength + 2];
  if (count > kMaxKeyIdLength || HexUpper(bytes, count, buffer) != 0) return false;
  text.assign(buffer, 2 * count);
  return true;
}

// SHA-1 over the prefix and `data`, then whatever `feed` adds.
class PrefixedSha1 {
 public:
  PrefixedSha1(std::string_view prefix, const uint8_t* data, size_t length) {
    mbedtls_sha1_init(&ctx_);
    ok_ = mbedtls_sha1_starts_ret(&ctx_) == 0 &&
          mbedtls_sha1_update_ret(&ctx_, reinterpret_cast<const unsigned char*>(prefix.data()),
                                  prefix.size()) == 0 &&
          mbedtls_sha1_update_ret(&ctx_, data, length) == 0;
  }
  PrefixedSha1(const PrefixedSha1&) = delete;
  PrefixedSha1& operator=(const PrefixedSha1&) = delete;
  ~PrefixedSha1() { mbedtls_sha1_free(&ctx_); }

  void Update(const uint8_t* data, size_t length) {
    ok_ = ok_ && mbedtls_sha1_update_ret(&ctx_, data, length) == 0;
  }

  // The digest as hex text; false when any step failed.
  [[nodiscard]] bool Finish(std::string& text) {
    uint8_t digest[kSha1Length];
    return ok_ && mbedtls_sha1_finish_ret(&ctx_, digest) == 0 &&
           HexString(digest, sizeof digest, text);
  }

 private:
  mbedtls_sha1_context ctx_;
  bool ok_ = false;
};

}  // namespace

bool MakeChainUpdateAuthenticator(std::string_view prefix, const uint8_t* keyId,
                                  size_t keyIdLength, ChainUpdateAuthenticator& out) {
  if (keyIdLength > kMaxKeyIdLength || (keyId == nullptr && keyIdLength != 0)) return false;
  PrefixedSha1 sha(prefix, keyId, keyIdLength);
  return sha.Finish(out.auth) && HexString(keyId, keyIdLength, out.aki);
}

bool MakeOnlineAuthenticator(std::string_view prefix, const uint8_t* document,
                             size_t documentLength, int32_t s1DigestId,
                             const std::filesystem::path& packageFile, OnlineAuthenticator& out) {
  if (document == nullptr && documentLength != 0) return false;
  uint8_t digest[kSha256Length];
  const size_t digestLength = s1DigestId == kSha256DigestId ? kSha256Length : kSha1Length;
  const int rc = digestLength == kSha256Length
                     ? mbedtls_sha256_ret(document, documentLength, digest, 0)
                     : mbedtls_sha1_ret(document, documentLength, digest);
  if (rc != 0 || !HexString(digest, digestLength, out.hash)) return false;

  // Unbuffered, so the chunk below is the only copy of the file's bytes.
  std::ifstream file;
  file.rdbuf()->pubsetbuf(nullptr, 0);
  file.open(packageFile, std::ios::binary);
  if (!file) return false;
  PrefixedSha1 sha(prefix, digest, digestLength);
  char chunk[kFileChunk];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    sha.Update(reinterpret_cast<const uint8_t*>(chunk), static_cast<size_t>(file.gcount()));
  }
  mbedtls_platform_zeroize(chunk, sizeof chunk);
  return !file.bad() && sha.Finish(out.auth);
}

}  // namespace qalv
