// Whole-file reads and writes. Reads land in a wiping buffer because the
// files are packages, chains and documents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/secure_buffer.h"

namespace qalv {

namespace file_io {
inline constexpr int32_t kNotFound = 1;
inline constexpr int32_t kFailed = -1;
}  // namespace file_io

// 0 with the whole file in `bytes`; 1 when the file does not exist; -1 when it
// cannot be opened or read whole, or memory runs out.
[[nodiscard]] int32_t ReadWholeFile(const std::filesystem::path& path, SecureBuffer& bytes);

// Creates or truncates the file and writes every byte; 0, or -1 on failure.
[[nodiscard]] int32_t WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes,
                                     size_t length);

}  // namespace qalv
