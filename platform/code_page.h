// Text decoding of package texts: UTF-8 when the bytes are valid UTF-8,
// otherwise code page 950 (the Traditional Chinese code page older packages
// were written in).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qalv {

bool IsValidUtf8(std::span<const uint8_t> bytes);

// Code page 950 bytes as UTF-8; false when they do not decode.
bool Cp950ToUtf8(std::span<const uint8_t> bytes, std::string& text);

// UTF-8 as is, else code page 950, else the bytes with every invalid sequence
// replaced by U+FFFD, so a text can always be shown.
std::string PackageTextToUtf8(std::span<const uint8_t> bytes);

}  // namespace qalv
