// The globe's drawn textures as the build encodes them and the globe reads
// them: each shows its shape in what the globe's blending uses. The note
// particles' glow is read without alpha, so its shape must be in its
// colour: drawn in alpha alone, every note was a flat square.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/gfx/Pvrtc.h"

namespace {

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(GlobeImages, EachTextureShowsItsShapeAsTheGlobeReadsIt) {
  struct Case {
    const char* name;
    bool alpha;  // read with alpha, as the globe loads it
    bool round;  // a glow or a ring about the centre (else a beam along it)
  };
  for (const Case& c : {Case{"earth_ping.pvr", false, true}, Case{"marker2.pvr", true, true},
                        Case{"region_marker.pvr", true, true},
                        Case{"marker_texture_sq.pvr", true, false}}) {
    const std::vector<std::uint8_t> data =
        readFile(std::string(FLUVANE_BUILT_RESOURCES) + "/" + c.name);
    const int side = platform::gfx::pvrtc4SideForLength(data.size(), 4096);
    ASSERT_GT(side, 0) << c.name;
    const std::vector<std::uint8_t> rgba =
        platform::gfx::decodePvrtc4(data.data(), data.size(), side, c.alpha);
    // What additive blending adds at a texel: brightness times alpha.
    const auto weight = [&](int x, int y) {
      const std::uint8_t* p = rgba.data() + (static_cast<std::size_t>(y) * side + x) * 4;
      return (p[0] + p[1] + p[2]) / 3.0 * p[3] / 255.0;
    };
    double low = 255, high = 0;
    for (int y = 0; y < side; y++) {
      for (int x = 0; x < side; x++) {
        low = std::min(low, weight(x, y));
        high = std::max(high, weight(x, y));
      }
    }
    EXPECT_GT(high - low, 150) << c.name << " is nearly one flat colour";
    // The corners add (nearly) nothing: the shape does not fill the square.
    const int e = side - 1;
    if (!c.round) continue;
    for (const auto& [x, y] :
         {std::pair{0, 0}, std::pair{e, 0}, std::pair{0, e}, std::pair{e, e}}) {
      EXPECT_LT(weight(x, y), 40) << c.name << " corner " << x << "," << y;
    }
  }
  // The glow is brightest in its middle.
  const std::vector<std::uint8_t> data =
      readFile(std::string(FLUVANE_BUILT_RESOURCES) + "/earth_ping.pvr");
  const std::vector<std::uint8_t> ping =
      platform::gfx::decodePvrtc4(data.data(), data.size(), 64, false);
  const auto at = [&](int x, int y) { return ping[(static_cast<std::size_t>(y) * 64 + x) * 4]; };
  EXPECT_GT(at(32, 32), 200);
  EXPECT_GT(at(32, 32), at(32, 48));
  EXPECT_GT(at(32, 48), at(32, 62));
}

}  // namespace
