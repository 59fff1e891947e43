// Decoding of PNG images into 32-bit pixels (GDI+ in the product, a small
// decoder on zlib natively).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

struct TImage {
  uint32_t width = 0;
  uint32_t height = 0;
  // Rows top to bottom, 4 bytes a pixel in the order B, G, R, A, not premultiplied.
  std::vector<uint8_t> pixels;
};

// False when the bytes are not a PNG image that can be decoded; image is
// left empty then.
bool DecodePng(const void* data, size_t size, TImage& image);

}  // namespace platform
