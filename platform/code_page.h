// Text decoding of package texts: UTF-8 when the bytes are valid UTF-8,
// otherwise code page 950 (the Traditional Chinese code page older packages
// were written in).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qalv {

bool IsValidUtf8(std::span<const uint8_t> bytes);

// Code page 950 bytes as UTF-8; false when they do not decode.
bool Cp950ToUtf8(std::span<const uint8_t> bytes, std::string& text);

// The bytes read as UTF-8, every ill-formed sequence shown as U+FFFD.
std::string Utf8Text(std::span<const uint8_t> bytes);

// The bytes read as code page 950 (the system code page of the texts that
// packages carry as plain bytes); bytes that do not decode are read as
// Utf8Text does.
std::string Cp950Text(std::span<const uint8_t> bytes);

// At most `maxBytes` of a message (an exception's text, say) as UTF-8, cut
// without splitting a character.
std::string Utf8Prefix(std::string_view text, size_t maxBytes);

// UTF-8 as is, else code page 950, else the bytes with every invalid sequence
// replaced by U+FFFD, so a text can always be shown.
std::string PackageTextToUtf8(std::span<const uint8_t> bytes);

}  // namespace qalv
