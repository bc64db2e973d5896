// make_earth_halves: cuts an equirectangular map of the earth into the two
// hemisphere halves the globe's sphere maps (tools/EarthHalves.h), as
// 1024 x 1024 PNGs for pvrtc_encode.
//
//   make_earth_halves earth.jpg output-directory
//
// Writes land_shallow_topo_2048_00.png (longitudes -180..0) and
// land_shallow_topo_2048_01.png (0..180). The map used by the build is
// Debian's xplanet-images earth.jpg (NASA Visible Earth imagery).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "platform/gfx/Image.h"
#include "tools/EarthHalves.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_earth_halves earth.jpg output-directory\n");
    return 2;
  }
  std::string error;
  const std::optional<platform::gfx::Image> map =
      platform::gfx::Image::loadStraight(argv[1], &error);
  if (!map) {
    std::fprintf(stderr, "make_earth_halves: %s\n", error.c_str());
    return 1;
  }
  const std::string directory = argv[2];
  if (!platform::Paths::mkdirs(directory)) {
    std::fprintf(stderr, "make_earth_halves: cannot make %s\n", directory.c_str());
    return 1;
  }
  const int side = 1024;
  for (int half = 0; half < 2; half++) {
    const std::vector<std::uint8_t> texels =
        earth::cutHalf(map->pixels.data(), map->width, map->height, half, side);
    const std::string name = half == 0 ? "land_shallow_topo_2048_00.png"
                                       : "land_shallow_topo_2048_01.png";
    if (texels.empty() || !platform::gfx::writePng(platform::Paths::join(directory, name), side,
                                                   side, texels.data(), &error)) {
      std::fprintf(stderr, "make_earth_halves: cannot write %s: %s\n", name.c_str(),
                   error.c_str());
      return 1;
    }
  }
  return 0;
}
