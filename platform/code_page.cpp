#include "platform/code_page.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace qalv {
namespace {

// Length of the UTF-8 sequence starting at bytes[i], 0 when it is not a
// well-formed one (overlong forms, surrogates and values past U+10FFFF count
// as ill-formed).
size_t Utf8SequenceLength(std::span<const uint8_t> bytes, size_t i) {
  const uint8_t lead = bytes[i];
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - i < length) return 0;
  if (bytes[i + 1] < low || bytes[i + 1] > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return 0;
  }
  return length;
}

}  // namespace

bool IsValidUtf8(std::span<const uint8_t> bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool Cp950ToUtf8(std::span<const uint8_t> bytes, std::string& text) {
  iconv_t converter = iconv_open("UTF-8", "CP950");
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(bytes.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
  size_t inLeft = bytes.size();
  char* outPos = out.data();
  size_t outLeft = out.size();
  const bool ok = iconv(converter, &in, &inLeft, &outPos, &outLeft) != static_cast<size_t>(-1) &&
                  iconv(converter, nullptr, nullptr, &outPos, &outLeft) != static_cast<size_t>(-1);
  iconv_close(converter);
  if (!ok) return false;
  out.resize(out.size() - outLeft);
  text = std::move(out);
  return true;
}

std::string Utf8Text(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, i);
    if (length == 0) {
      text += "\xEF\xBF\xBD";
      ++i;
    } else {
      text.append(reinterpret_cast<const char*>(bytes.data() + i), length);
      i += length;
    }
  }
  return text;
}

std::string Cp950Text(std::span<const uint8_t> bytes) {
  std::string text;
  return Cp950ToUtf8(bytes, text) ? text : Utf8Text(bytes);
}

std::string Utf8Prefix(std::string_view text, size_t maxBytes) {
  size_t end = std::min(text.size(), maxBytes);
  while (end > 0 && end < text.size() && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return Utf8Text({reinterpret_cast<const uint8_t*>(text.data()), end});
}

std::string PackageTextToUtf8(std::span<const uint8_t> bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes.begin(), bytes.end()) : Cp950Text(bytes);
}

}  // namespace qalv
