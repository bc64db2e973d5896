// SGI image files -> the instrument graphics' reader (the flare textures).
// Whatever the bytes, the reader answers an image of the sizes it claims or
// null, and never reads or writes outside the file and the image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Classes/FluvaneGfx.h"

// Where the pixel sum goes, so the reads are not optimised away.
volatile unsigned g_pixelSum;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FluvaneGfx::Luminance image = FluvaneGfx::decodeLuminance(data, size);
  if (image.pixels) {
    if (image.width < 1 || image.height < 1 || image.width > FluvaneGfx::kLargestSide ||
        image.height > FluvaneGfx::kLargestSide || image.channels != 1) {
      std::abort();
    }
    // Touch every pixel: ASan sees any short allocation.
    unsigned sum = 0;
    const std::size_t n = static_cast<std::size_t>(image.width) * image.height;
    for (std::size_t i = 0; i < n; i++) sum += image.pixels[i];
    g_pixelSum = sum;
  }
  return 0;
}
