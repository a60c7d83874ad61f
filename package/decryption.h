// Decryption of the package's document: AES-256-CBC, zero IV, key SHA-256 of
// the password's UTF-8 bytes; the plaintext ends in "QALV" and PKCS #7
// padding, which is how a wrong password shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/secure_buffer.h"

namespace qalv {

namespace decrypt {
inline constexpr int32_t kKeySchedule = 2001;
inline constexpr int32_t kNoMemory = 2002;
inline constexpr int32_t kNotWholeBlocks = 2003;
inline constexpr int32_t kPaddingValue = 2004;
inline constexpr int32_t kPaddingBytes = 2005;
inline constexpr int32_t kMarker = 2006;
}  // namespace decrypt

// Where a decryption leaves the document: its bytes, their length, and 0
// when the last decryption gave them (-1 otherwise).
struct DecryptedDocument {
  SecureBuffer& data;
  int32_t& length;
  int32_t& state;
};

// Decrypts into `document` (replacing and wiping the previous one); 0, or a
// code with its user-facing text in `message`.
[[nodiscard]] int32_t DecryptDocument(const std::string& password, const uint8_t* cipher,
                                      size_t cipherLength, DecryptedDocument document,
                                      std::string& message);

}  // namespace qalv
