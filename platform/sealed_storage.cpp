#include "platform/sealed_storage.h"

#include <cstring>

#include <mbedtls/aes.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha256.h>

#include "platform/secure_buffer.h"

namespace qalv {
namespace {

constexpr size_t kDigestLength = 32;
constexpr size_t kCounterLength = 16;

// AES-256 encryption schedule under SHA-256 of the key text; counter mode
// uses it in both directions.
[[nodiscard]] int PrepareKey(mbedtls_aes_context& aes, const char* keyText) {
  unsigned char key[32];
  int rc = mbedtls_sha256_ret(reinterpret_cast<const unsigned char*>(keyText),
                              std::strlen(keyText), key, 0);
  if (rc == 0) rc = mbedtls_aes_setkey_enc(&aes, key, 256);
  mbedtls_platform_zeroize(key, sizeof key);
  return rc;
}

// Encrypts or decrypts `length` bytes in counter mode from the stored
// initial counter block, with the stream offset starting at 0.
[[nodiscard]] int CryptCtr(mbedtls_aes_context& aes, const uint8_t* counterBlock,
                           const uint8_t* input, size_t length, uint8_t* output) {
  unsigned char counter[kCounterLength];
  unsigned char stream[kCounterLength] = {};
  std::memcpy(counter, counterBlock, sizeof counter);
  size_t offset = 0;
  const int rc = mbedtls_aes_crypt_ctr(&aes, length, &offset, counter, stream, input, output);
  mbedtls_platform_zeroize(stream, sizeof stream);
  return rc;
}

// A counter block that is never reused under the same key, so two seals
// never share a key stream: drawn from the system's entropy source.
[[nodiscard]] int DrawCounterBlock(uint8_t* block) {
  static constexpr unsigned char kPersonalisation[] = "qalv sealed storage";
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context drbg;
  mbedtls_entropy_init(&entropy);
  mbedtls_ctr_drbg_init(&drbg);
  int rc = mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, kPersonalisation,
                                 sizeof kPersonalisation - 1);
  if (rc == 0) rc = mbedtls_ctr_drbg_random(&drbg, block, kCounterLength);
  mbedtls_ctr_drbg_free(&drbg);
  mbedtls_entropy_free(&entropy);
  return rc;
}

int32_t SealWith(mbedtls_aes_context& aes, const uint8_t* plaintext, size_t n, const char* keyText,
                 uint8_t* output) {
  SecureBuffer work;
  if (!work.Allocate(n + kDigestLength)) return seal::kNoMemory;
  std::memcpy(work.data(), plaintext, n);
  uint8_t* counterBlock = output + n + kDigestLength;
  // The primitives fail only on a broken build or entropy source; the seal
  // then has no other word for it than "could not be made".
  if (mbedtls_sha256_ret(plaintext, n, work.data() + n, 0) != 0 ||
      PrepareKey(aes, keyText) != 0 || DrawCounterBlock(counterBlock) != 0 ||
      CryptCtr(aes, counterBlock, work.data(), work.size(), output) != 0) {
    return seal::kNoMemory;
  }
  return 0;
}

// Differences anywhere count the same, so the time taken says nothing of
// where the digests part.
bool EqualDigests(const uint8_t* a, const uint8_t* b) {
  uint8_t difference = 0;
  for (size_t i = 0; i < kDigestLength; ++i) difference |= a[i] ^ b[i];
  return difference == 0;
}

int32_t UnsealWith(mbedtls_aes_context& aes, const uint8_t* sealed, size_t m, const char* keyText,
                   uint8_t* output) {
  const size_t n = m - seal::kOverhead;
  const size_t cipherLength = n + kDigestLength;
  unsigned char digest[kDigestLength];
  const bool intact =
      PrepareKey(aes, keyText) == 0 &&
      CryptCtr(aes, sealed + cipherLength, sealed, cipherLength, output) == 0 &&
      mbedtls_sha256_ret(output, n, digest, 0) == 0 && EqualDigests(digest, output + n);
  // The caller gets the plaintext only when it is proven intact, and never
  // the decrypted digest.
  mbedtls_platform_zeroize(output + (intact ? n : 0), intact ? kDigestLength : cipherLength);
  return intact ? 0 : seal::kDigestMismatch;
}

}  // namespace

int32_t HexUpper(const uint8_t* bytes, size_t count, char* output) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (output == nullptr || count > seal::kMaxHexInput || (bytes == nullptr && count != 0)) {
    return seal::kNoHexOutput;
  }
  std::memset(output, 0, 2 * count + 2);
  for (size_t i = 0; i < count; ++i) {
    output[2 * i] = kDigits[bytes[i] >> 4];
    output[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return 0;
}

int32_t SealBuffer(const uint8_t* plaintext, size_t n, const char* keyText, uint8_t* output,
                   size_t& length) {
  if (keyText == nullptr) return seal::kNoKeyText;
  if (plaintext == nullptr) return seal::kNoPlaintext;
  if (n == 0) return seal::kEmptyPlaintext;
  if (output == nullptr || n > SIZE_MAX - seal::kOverhead || length < n + seal::kOverhead) {
    return seal::kOutputTooSmall;
  }
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  const int32_t result = SealWith(aes, plaintext, n, keyText, output);
  mbedtls_aes_free(&aes);
  if (result == 0) length = n + seal::kOverhead;
  return result;
}

int32_t UnsealBuffer(const uint8_t* sealed, size_t m, const char* keyText, uint8_t* output,
                     size_t& length) {
  if (keyText == nullptr) return seal::kNoKeyText;
  if (sealed == nullptr) return seal::kNoSealedData;
  if (m < seal::kOverhead) return seal::kSealedTooShort;
  if (output == nullptr || length < m) return seal::kOutputTooSmall;
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  const int32_t result = UnsealWith(aes, sealed, m, keyText, output);
  mbedtls_aes_free(&aes);
  if (result == 0) length = m - seal::kOverhead;
  return result;
}

}  // namespace qalv
