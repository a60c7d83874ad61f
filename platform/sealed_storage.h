// The hexadecimal encoder of every value that goes into a request or a file
// name, and the sealing of stored files: AES-256-CTR with a SHA-256 of the
// plaintext inside, so a changed or damaged file fails when read back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qalv {

namespace seal {
inline constexpr int32_t kNoKeyText = 0x7007;
inline constexpr int32_t kNoPlaintext = 0x7009;
inline constexpr int32_t kEmptyPlaintext = 0x700A;
inline constexpr int32_t kNoSealedData = 0x700B;
inline constexpr int32_t kSealedTooShort = 0x700C;
inline constexpr int32_t kOutputTooSmall = 0x700D;
inline constexpr int32_t kNoMemory = 0x7202;
inline constexpr int32_t kDigestMismatch = 0x800E;
inline constexpr int32_t kNoHexOutput = 0x8008;

inline constexpr size_t kOverhead = 48;  // digest and counter block
inline constexpr size_t kMaxHexInput = 2047;
}  // namespace seal

// Two upper-case hex digits per byte and a zero byte into `output`, which
// must hold 2 * count + 2 bytes (cleared first). Inputs longer than 2047
// bytes are refused with kNoHexOutput as well.
[[nodiscard]] int32_t HexUpper(const uint8_t* bytes, size_t count, char* output);

// Seals n plaintext bytes under the zero-terminated `keyText`. `length` gives
// the output's capacity (at least n + 48) and receives n + 48.
[[nodiscard]] int32_t SealBuffer(const uint8_t* plaintext, size_t n, const char* keyText,
                                 uint8_t* output, size_t& length);

// Unseals m sealed bytes. `length` gives the output's capacity (at least m)
// and receives m - 48.
[[nodiscard]] int32_t UnsealBuffer(const uint8_t* sealed, size_t m, const char* keyText,
                                   uint8_t* output, size_t& length);

}  // namespace qalv
