// pvrtc_encode: turns a square PNG into a raw PVRTC 4 bpp file (no header),
// as the texture loader reads them.
//
//   pvrtc_encode input.png output.pvr
//
// The image must be square with a power-of-two side of at least 8 (and at
// most 4096, the image loader's limit). Alpha is kept. The encoder
// (platform/gfx/Pvrtc) refines its blocks' colours against the decoded
// result, so that the texture's edges, which the format's upscaling blends
// with the opposite ones, come back about as close as its middle.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Paths.h"
#include "platform/gfx/Image.h"
#include "platform/gfx/Pvrtc.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pvrtc_encode input.png output.pvr\n");
    return 2;
  }
  std::string error;
  std::optional<platform::gfx::Image> image = platform::gfx::Image::loadStraight(argv[1], &error);
  if (!image) {
    std::fprintf(stderr, "pvrtc_encode: %s\n", error.c_str());
    return 1;
  }
  const int side = image->width;
  if (image->height != side || side < 8 || (side & (side - 1)) != 0) {
    std::fprintf(stderr,
                 "pvrtc_encode: %s is %d x %d; a square power-of-two side of 8 or more is "
                 "needed\n",
                 argv[1], image->width, image->height);
    return 1;
  }
  const std::vector<std::uint8_t> data = platform::gfx::encodePvrtc4(image->pixels.data(), side);
  if (!platform::Paths::writeAtomic(
          argv[2], std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
          &error)) {
    std::fprintf(stderr, "pvrtc_encode: cannot write %s: %s\n", argv[2], error.c_str());
    return 1;
  }
  return 0;
}
