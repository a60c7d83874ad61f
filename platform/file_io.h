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

// The writes return 0, or -1 with errno telling why.

// Writes the file the user named: its new content replaces the old in one step
// (see ReplacePrivateFile), an existing file keeps its mode, a new one gets
// the mode the umask gives, and a link at the name is written through. A pipe
// or device at the name is written in place.
[[nodiscard]] int32_t WriteWholeFile(const std::filesystem::path& path, const uint8_t* bytes,
                                     size_t length);

// The work folder holds chains, seals and the document's script: only its
// owner may read it. Writes there are mode 0600 and never go through a link:
// a symbolic or hard link (or anything but a plain file of ours) at the name
// is removed and a new file made in its place, so the link's target is
// untouched. A write that fails removes the file, so no part of one is read
// as the whole.
[[nodiscard]] int32_t WritePrivateFile(const std::filesystem::path& path, const uint8_t* bytes,
                                       size_t length);

// As WritePrivateFile, but the new content replaces the old in one step (a
// temporary file in the same folder, flushed, then renamed over the name): a
// crash or a full disk leaves the old file whole, never a damaged one.
[[nodiscard]] int32_t ReplacePrivateFile(const std::filesystem::path& path, const uint8_t* bytes,
                                         size_t length);

// Makes the folder (and missing parents) when it does not exist; the folder
// itself is made with mode 0700. 0, or -1 with `error` saying why.
[[nodiscard]] int32_t CreatePrivateFolder(const std::filesystem::path& path, std::error_code& error);

// Where an installed program's data lies: share/qalv under the installation
// prefix, the parent of the folder that holds the executable.
std::filesystem::path InstalledDataFolder(const std::filesystem::path& programFolder);

}  // namespace qalv
