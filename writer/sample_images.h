// Small valid pictures for the seals and the preview when none are given.
#pragma once

#include <cstdint>

#include "writer/der_writer.h"

namespace qalv::writer {

// A GIF of one colour, `width` x `height` pixels.
Bytes SolidGif(uint16_t width, uint16_t height, uint8_t red, uint8_t green, uint8_t blue);

}  // namespace qalv::writer
