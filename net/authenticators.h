// Request authenticators: short values the services recompute from a shared
// prefix and the data the request is about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace qalv {

struct ChainUpdateAuthenticator {
  std::string auth;  // 40 hex characters
  std::string aki;   // the key identifier, 2 hex characters per byte
};

// SHA-1 over the prefix and the authority key identifier K. Identifiers
// longer than 65 bytes are refused (false).
[[nodiscard]] bool MakeChainUpdateAuthenticator(std::string_view prefix, const uint8_t* keyId,
                                                size_t keyIdLength, ChainUpdateAuthenticator& out);

struct OnlineAuthenticator {
  std::string hash;  // SHA-256 (s1 digest 11) or SHA-1 of the document, in hex
  std::string auth;  // SHA-1 over prefix, document digest and package file, in hex
};

// Reads the package file in 1024-byte chunks; false when it cannot be read.
[[nodiscard]] bool MakeOnlineAuthenticator(std::string_view prefix, const uint8_t* document,
                                           size_t documentLength, int32_t s1DigestId,
                                           const std::filesystem::path& packageFile,
                                           OnlineAuthenticator& out);

}  // namespace qalv
