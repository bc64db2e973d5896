// The globe's earth textures: cut from the map into the two halves the
// sphere maps, and encoded as 4 bpp compressed data that keeps them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/gfx/Image.h"
#include "platform/gfx/Pvrtc.h"
#include "tools/EarthHalves.h"

namespace {

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A map whose colour tells the pixel: red = column / 8, green = row / 4,
// blue = 255 on the western half.
std::vector<std::uint8_t> indexMap(int width, int height) {
  std::vector<std::uint8_t> map(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      std::uint8_t* p = map.data() + (static_cast<std::size_t>(y) * width + x) * 4;
      p[0] = static_cast<std::uint8_t>(x / 8);
      p[1] = static_cast<std::uint8_t>(y / 4);
      p[2] = x < width / 2 ? 255 : 0;
      p[3] = 255;
    }
  }
  return map;
}

}  // namespace

TEST(EarthHalves, AMapOfTwiceTheSideIsCopiedExactlyHalfByHalf) {
  const int side = 1024;
  const std::vector<std::uint8_t> map = indexMap(2 * side, side);
  for (int half = 0; half < 2; half++) {
    const std::vector<std::uint8_t> texels = earth::cutHalf(map.data(), 2 * side, side, half, side);
    ASSERT_EQ(texels.size(), static_cast<std::size_t>(side) * side * 4);
    for (int y : {0, 1, 511, 1023}) {
      for (int x : {0, 7, 8, 600, 1023}) {
        const std::uint8_t* t = texels.data() + (static_cast<std::size_t>(y) * side + x) * 4;
        EXPECT_EQ(t[0], (half * side + x) / 8) << half << " " << x << "," << y;
        EXPECT_EQ(t[1], y / 4);
        EXPECT_EQ(t[2], half == 0 ? 255 : 0);
      }
    }
  }
}

TEST(EarthHalves, SmallerHalvesSampleAtTexelCentresAndWrapInLongitude) {
  // A map 8 x 4 with red = 32 x column: a 2 x 2 half of the east samples
  // columns 4.5 and 6.5 (between two columns), the west 0.5 and 2.5.
  const std::vector<std::uint8_t> map = [] {
    std::vector<std::uint8_t> m(8 * 4 * 4, 255);
    for (int y = 0; y < 4; y++)
      for (int x = 0; x < 8; x++) m[(y * 8 + x) * 4] = static_cast<std::uint8_t>(32 * x);
    return m;
  }();
  const std::vector<std::uint8_t> west = earth::cutHalf(map.data(), 8, 4, 0, 2);
  const std::vector<std::uint8_t> east = earth::cutHalf(map.data(), 8, 4, 1, 2);
  ASSERT_EQ(west.size(), 16u);
  EXPECT_EQ(west[0], 16);
  EXPECT_EQ(west[4], 80);
  EXPECT_EQ(east[0], 144);
  EXPECT_EQ(east[4], 208);
  // A half as wide as the map: the last texel samples column 7.25, a
  // quarter of the way from column 7 (224) to column 0 (0) after the wrap.
  const std::vector<std::uint8_t> wide = earth::cutHalf(map.data(), 8, 4, 1, 8);
  EXPECT_EQ(wide[7 * 4], 168);
}

TEST(EarthHalves, RefusesBadArguments) {
  const std::vector<std::uint8_t> map(16, 0);
  EXPECT_TRUE(earth::cutHalf(nullptr, 2, 2, 0, 2).empty());
  EXPECT_TRUE(earth::cutHalf(map.data(), 0, 2, 0, 2).empty());
  EXPECT_TRUE(earth::cutHalf(map.data(), 2, 2, 2, 2).empty());
  EXPECT_TRUE(earth::cutHalf(map.data(), 2, 2, -1, 2).empty());
  EXPECT_TRUE(earth::cutHalf(map.data(), 2, 2, 0, 0).empty());
}

TEST(EarthHalves, TheBuiltFilesKeepTheirHalfAt25DecibelsOrMore) {
  std::string error;
  const std::optional<platform::gfx::Image> map =
      platform::gfx::Image::loadStraight(FLUVANE_EARTH_MAP, &error);
  ASSERT_TRUE(map) << error;
  const char* names[2] = {"land_shallow_topo_2048_00.pvr", "land_shallow_topo_2048_01.pvr"};
  double psnr[2][2] = {};
  for (int half = 0; half < 2; half++) {
    const std::vector<std::uint8_t> data =
        readFile(std::string(FLUVANE_BUILT_RESOURCES) + "/" + names[half]);
    ASSERT_EQ(data.size(), 524288u) << names[half];
    ASSERT_EQ(platform::gfx::pvrtc4SideForLength(data.size(), 4096), 1024);
    const std::vector<std::uint8_t> decoded =
        platform::gfx::decodePvrtc4(data.data(), data.size(), 1024, false);
    for (int source = 0; source < 2; source++) {
      psnr[half][source] = earth::psnrRgb(
          decoded, earth::cutHalf(map->pixels.data(), map->width, map->height, source, 1024));
    }
  }
  // Each file keeps its own half, and is not the other one.
  EXPECT_GE(psnr[0][0], 25.0);
  EXPECT_GE(psnr[1][1], 25.0);
  EXPECT_LT(psnr[0][1], 20.0);
  EXPECT_LT(psnr[1][0], 20.0);
}

TEST(EarthHalves, PsnrOfEqualAndOfMismatchedImages) {
  const std::vector<std::uint8_t> a(64, 100);
  std::vector<std::uint8_t> b = a;
  EXPECT_TRUE(std::isinf(earth::psnrRgb(a, b)));
  b[0] = 110;  // one channel off by 10 of 48: mse 100 / 48
  EXPECT_NEAR(earth::psnrRgb(a, b), 10 * std::log10(255.0 * 255.0 * 48 / 100), 1e-9);
  b[3] = 0;  // alpha is not compared
  EXPECT_NEAR(earth::psnrRgb(a, b), 10 * std::log10(255.0 * 255.0 * 48 / 100), 1e-9);
  EXPECT_EQ(earth::psnrRgb(a, std::vector<std::uint8_t>(60, 100)), 0);
}
