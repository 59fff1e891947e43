// The stand-in's PNG decoder on arbitrary bytes: it must refuse or decode,
// never crash, and a decoded image has exactly width x height pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::TImage image;
  if (platform::DecodePng(data, size, image)) {
    if (image.pixels.size() != size_t{image.width} * image.height * 4) std::abort();
  } else if (!image.pixels.empty()) {
    std::abort();
  }
  return 0;
}
