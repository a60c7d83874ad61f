#include "writer/sample_images.h"

#include <algorithm>

namespace qalv::writer {
namespace {

void AppendLittleEndian16(Bytes& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

}  // namespace

Bytes SolidGif(uint16_t width, uint16_t height, uint8_t red, uint8_t green, uint8_t blue) {
  Bytes out = ToBytes("GIF89a");
  AppendLittleEndian16(out, width);
  AppendLittleEndian16(out, height);
  // Global colour table of two entries (the colour and black), background 0.
  out.insert(out.end(), {0x80, 0x00, 0x00, red, green, blue, 0x00, 0x00, 0x00});
  out.push_back(0x2C);
  AppendLittleEndian16(out, 0);
  AppendLittleEndian16(out, 0);
  AppendLittleEndian16(out, width);
  AppendLittleEndian16(out, height);
  out.push_back(0x00);

  // LZW with minimum code size 2: 3-bit codes, 4 = clear, 5 = end. A clear
  // code before every second pixel keeps the table below 8 entries, so the
  // code width never grows and no compression logic is needed.
  static constexpr uint32_t kClear = 4;
  static constexpr uint32_t kEnd = 5;
  Bytes codes;
  uint32_t bits = 0;
  int bitCount = 0;
  auto emit = [&](uint32_t code) {
    bits |= code << bitCount;
    bitCount += 3;
    while (bitCount >= 8) {
      codes.push_back(static_cast<uint8_t>(bits));
      bits >>= 8;
      bitCount -= 8;
    }
  };
  const uint32_t pixels = uint32_t{width} * height;
  for (uint32_t i = 0; i < pixels; ++i) {
    if (i % 2 == 0) emit(kClear);
    emit(0);
  }
  emit(kEnd);
  if (bitCount > 0) codes.push_back(static_cast<uint8_t>(bits));

  out.push_back(2);
  for (size_t at = 0; at < codes.size(); at += 255) {
    const size_t block = std::min<size_t>(255, codes.size() - at);
    out.push_back(static_cast<uint8_t>(block));
    out.insert(out.end(), codes.begin() + static_cast<std::ptrdiff_t>(at),
               codes.begin() + static_cast<std::ptrdiff_t>(at + block));
  }
  out.push_back(0x00);
  out.push_back(0x3B);
  return out;
}

}  // namespace qalv::writer
