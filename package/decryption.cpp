#include "package/decryption.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <mbedtls/aes.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha256.h>

namespace qalv {
namespace {

constexpr size_t kBlock = 16;
constexpr uint8_t kMarker[] = {'Q', 'A', 'L', 'V'};

constexpr char kKeyScheduleText[] = "密碼處理錯誤";
constexpr char kDecryptFailedText[] = "解密失敗";
constexpr char kVerifyFailedText[] = "解密驗證錯誤";

// The password's UTF-8 bytes are taken whole: a longer password is a
// stronger one, never silently a shorter one.
[[nodiscard]] int PrepareKey(mbedtls_aes_context& aes, const std::string& password) {
  unsigned char key[32];
  int rc = mbedtls_sha256_ret(reinterpret_cast<const unsigned char*>(password.data()),
                              password.size(), key, 0);
  if (rc == 0) rc = mbedtls_aes_setkey_dec(&aes, key, 256);
  mbedtls_platform_zeroize(key, sizeof key);
  return rc;
}

std::string NoMemoryText() {
  // Not every allocator sets errno when it fails.
  const int error = errno != 0 ? errno : ENOMEM;
  char text[128];
  std::snprintf(text, sizeof text, "%.99s(%d)", std::strerror(error), error);
  return text;
}

int32_t DecryptWith(mbedtls_aes_context& aes, const std::string& password, const uint8_t* cipher,
                    size_t cipherLength, DecryptedDocument& document, std::string& message) {
  if (PrepareKey(aes, password) != 0) {
    message = kKeyScheduleText;
    return decrypt::kKeySchedule;
  }

  document.data.Release();
  document.length = 0;
  document.state = -1;
  // pdfLength must be able to hold the document's length.
  if (cipherLength > static_cast<size_t>(INT32_MAX)) {
    message = kDecryptFailedText;
    return decrypt::kNotWholeBlocks;
  }
  errno = 0;
  if (!document.data.Allocate(cipherLength)) {
    message = NoMemoryText();
    return decrypt::kNoMemory;
  }
  if (cipherLength % kBlock != 0 || (cipher == nullptr && cipherLength != 0)) {
    message = kDecryptFailedText;
    return decrypt::kNotWholeBlocks;
  }

  uint8_t* plain = document.data.data();
  unsigned char iv[kBlock] = {};
  if (mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_DECRYPT, cipherLength, iv, cipher, plain) != 0) {
    message = kDecryptFailedText;
    return decrypt::kNotWholeBlocks;
  }

  // An empty plaintext has no last byte; it is too short for the marker.
  const size_t padding = cipherLength == 0 ? 0 : plain[cipherLength - 1];
  if (padding > kBlock) {
    message = kVerifyFailedText;
    return decrypt::kPaddingValue;
  }
  for (size_t i = cipherLength - padding; i < cipherLength; ++i) {
    if (plain[i] != padding) {
      message = kVerifyFailedText;
      return decrypt::kPaddingBytes;
    }
  }
  if (cipherLength < padding + sizeof kMarker ||
      std::memcmp(plain + cipherLength - padding - sizeof kMarker, kMarker, sizeof kMarker) != 0) {
    message = kVerifyFailedText;
    return decrypt::kMarker;
  }

  document.length = static_cast<int32_t>(cipherLength - padding - sizeof kMarker);
  document.state = 0;
  return 0;
}

}  // namespace

int32_t DecryptDocument(const std::string& password, const uint8_t* cipher, size_t cipherLength,
                        DecryptedDocument document, std::string& message) {
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  const int32_t result = DecryptWith(aes, password, cipher, cipherLength, document, message);
  mbedtls_aes_free(&aes);
  return result;
}

}  // namespace qalv
