// The software PVRTC 4 bpp codec: hand-built blocks decode to the colours
// the format defines, our encoder's files decode close to their images, and
// the file-size rule accepts exactly the square power-of-two sizes.
#include "platform/gfx/Pvrtc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/gfx/Image.h"
#include "tools/EarthHalves.h"

using platform::gfx::decodePvrtc4;
using platform::gfx::encodePvrtc4;
using platform::gfx::pvrtc4SideForLength;
using platform::gfx::pvrtcBlockIndex;
using platform::gfx::pvrtcColourWord;

namespace {

// A texture of side x side whose blocks are all the same two words.
std::vector<std::uint8_t> uniformTexture(int side, std::uint32_t modulation, std::uint32_t colour) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(side) * side / 2);
  for (std::size_t at = 0; at < data.size(); at += 8) {
    for (int i = 0; i < 4; i++) {
      data[at + i] = static_cast<std::uint8_t>(modulation >> (8 * i));
      data[at + 4 + i] = static_cast<std::uint8_t>(colour >> (8 * i));
    }
  }
  return data;
}

std::array<int, 4> texel(const std::vector<std::uint8_t>& rgba, int side, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * side + x) * 4;
  return {rgba[at], rgba[at + 1], rgba[at + 2], rgba[at + 3]};
}

// Modulation word giving every texel of a block the value m.
std::uint32_t everyTexel(std::uint32_t m) {
  std::uint32_t word = 0;
  for (int i = 0; i < 16; i++) word |= m << (2 * i);
  return word;
}

// Mean absolute error of the RGB channels of the decoded texels against the
// image's, over the lines (columns, or rows when `rows`) whose distance to
// the nearer edge of the texture is in [from, to).
double bandError(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& decoded,
                 int side, bool rows, int from, int to) {
  double total = 0;
  long count = 0;
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      const int line = rows ? y : x;
      const int distance = std::min(line, side - 1 - line);
      if (distance < from || distance >= to) continue;
      const std::size_t at = (static_cast<std::size_t>(y) * side + x) * 4;
      for (int c = 0; c < 3; c++) total += std::abs(int(decoded[at + c]) - int(image[at + c]));
      count += 3;
    }
  }
  return total / count;
}

}  // namespace

TEST(Pvrtc4, IdenticalBlocksGiveColourAAndBAndTheBlendsBetween) {
  // Opaque A = pure red (5:5:4 all set in red), opaque B = pure blue (5:5:5).
  const std::uint32_t colour = 0x80000000u | (31u << 16) |  // B: blue 31
                               0x8000u | (31u << 10);       // A: red 31
  const std::uint8_t red[4] = {255, 0, 0, 255}, blue[4] = {0, 0, 255, 255};
  ASSERT_EQ(pvrtcColourWord(red, blue, false), colour);
  struct Case {
    std::uint32_t m;
    std::array<int, 4> expected;
  };
  // Weights of B: 0, 3/8, 5/8, 1, rounded to nearest.
  const Case cases[] = {
      {0, {255, 0, 0, 255}}, {1, {159, 0, 96, 255}}, {2, {96, 0, 159, 255}}, {3, {0, 0, 255, 255}}};
  for (const Case& c : cases) {
    const auto data = uniformTexture(16, everyTexel(c.m), colour);
    const auto rgba = decodePvrtc4(data.data(), data.size(), 16, true);
    ASSERT_EQ(rgba.size(), 16u * 16 * 4);
    for (int y = 0; y < 16; y += 5) {
      for (int x = 0; x < 16; x += 3) {
        EXPECT_EQ(texel(rgba, 16, x, y), c.expected)
            << "modulation " << c.m << " at " << x << ", " << y;
      }
    }
  }
}

TEST(Pvrtc4, TranslucentColoursCarryTheirAlpha) {
  const std::uint8_t a[4] = {255, 255, 255, 102}, b[4] = {0, 0, 0, 0};
  const std::uint32_t colour = pvrtcColourWord(a, b, false);
  EXPECT_EQ(colour & 0x8000u, 0u);
  EXPECT_EQ(colour & 0x80000000u, 0u);
  const auto data = uniformTexture(8, everyTexel(0), colour);
  const auto rgba = decodePvrtc4(data.data(), data.size(), 8, true);
  ASSERT_FALSE(rgba.empty());
  // 3-bit alpha 3 of 7 doubled to 4 bits: 6 * 17.
  EXPECT_EQ(texel(rgba, 8, 3, 3), (std::array<int, 4>{255, 255, 255, 102}));
  // Without alpha the same data is opaque.
  const auto opaque = decodePvrtc4(data.data(), data.size(), 8, false);
  EXPECT_EQ(texel(opaque, 8, 3, 3)[3], 255);
}

TEST(Pvrtc4, PunchThroughTexelIsTransparentAndTheOthersKeepTheirWeights) {
  const std::uint8_t green[4] = {0, 255, 0, 255}, white[4] = {255, 255, 255, 255};
  const std::uint32_t colour = pvrtcColourWord(green, white, true);
  ASSERT_EQ(colour & 1u, 1u);
  // Texel (1, 0) of each block has modulation 2, texel (2, 0) 1, (3, 0) 3.
  const std::uint32_t modulation = (2u << 2) | (1u << 4) | (3u << 6);
  const auto data = uniformTexture(8, modulation, colour);
  const auto rgba = decodePvrtc4(data.data(), data.size(), 8, true);
  ASSERT_FALSE(rgba.empty());
  EXPECT_EQ(texel(rgba, 8, 0, 0), (std::array<int, 4>{0, 255, 0, 255}));
  EXPECT_EQ(texel(rgba, 8, 1, 0)[3], 0);
  EXPECT_EQ(texel(rgba, 8, 2, 0), (std::array<int, 4>{128, 255, 128, 255}));
  EXPECT_EQ(texel(rgba, 8, 3, 0), (std::array<int, 4>{255, 255, 255, 255}));
  EXPECT_EQ(texel(rgba, 8, 5, 4)[3], 0);
}

TEST(Pvrtc4, BlocksAreInMortonOrderAndUpscaledWithWrapAround) {
  EXPECT_EQ(pvrtcBlockIndex(0, 0), 0u);
  EXPECT_EQ(pvrtcBlockIndex(0, 1), 1u);
  EXPECT_EQ(pvrtcBlockIndex(1, 0), 2u);
  EXPECT_EQ(pvrtcBlockIndex(1, 1), 3u);
  EXPECT_EQ(pvrtcBlockIndex(2, 0), 8u);
  EXPECT_EQ(pvrtcBlockIndex(3, 5), 0x1Bu);
  // An 8 x 8 texture: block (1, 0) white, the others black, all modulation 0.
  const std::uint8_t black[4] = {0, 0, 0, 255}, white[4] = {255, 255, 255, 255};
  auto data = uniformTexture(8, 0, pvrtcColourWord(black, black, false));
  const std::uint32_t whiteWord = pvrtcColourWord(white, white, false);
  for (int i = 0; i < 4; i++) {
    data[8 * pvrtcBlockIndex(1, 0) + 4 + i] = static_cast<std::uint8_t>(whiteWord >> (8 * i));
  }
  const auto rgba = decodePvrtc4(data.data(), data.size(), 8, true);
  // The block's value sits at texel (6, 2); halfway to block (0, 0) at
  // (4, 2) and, wrapping around, at (0, 2).
  EXPECT_EQ(texel(rgba, 8, 6, 2)[0], 255);
  EXPECT_EQ(texel(rgba, 8, 4, 2)[0], 128);
  EXPECT_EQ(texel(rgba, 8, 0, 2)[0], 128);
  EXPECT_EQ(texel(rgba, 8, 2, 2)[0], 0);
  EXPECT_EQ(texel(rgba, 8, 6, 0)[0], 128);  // halfway up to the wrapped row
}

TEST(Pvrtc4, EncodedSmoothImageDecodesWithinTolerance) {
  const int side = 64;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      const double u = x / double(side), v = y / double(side);
      std::uint8_t* p = image.data() + (static_cast<std::size_t>(y) * side + x) * 4;
      p[0] = static_cast<std::uint8_t>(127.5 + 127.5 * std::sin(2 * M_PI * u));
      p[1] = static_cast<std::uint8_t>(255 * v);
      p[2] = static_cast<std::uint8_t>(127.5 + 127.5 * std::cos(2 * M_PI * (u + v)));
      p[3] = 255;
    }
  }
  const auto data = encodePvrtc4(image.data(), side);
  ASSERT_EQ(data.size(), static_cast<std::size_t>(side) * side / 2);
  const auto rgba = decodePvrtc4(data.data(), data.size(), side, true);
  ASSERT_EQ(rgba.size(), image.size());
  // Quality is no goal of the encoder; a smooth image must still come back
  // close on average and nearly everywhere.
  double total = 0;
  std::size_t far = 0;
  for (std::size_t i = 0; i < image.size(); i++) {
    const int d = std::abs(static_cast<int>(rgba[i]) - image[i]);
    total += d;
    if (d > 24) far++;
  }
  EXPECT_LT(total / image.size(), 4.0);
  EXPECT_LT(far, image.size() / 100) << far << " channel values off by more than 24";
}

TEST(Pvrtc4, SideFollowsTheFileRuleForExactSquareSizesOnly) {
  struct Case {
    std::uint64_t length;
    int largest;
    int side;
  };
  const Case cases[] = {
      {524288, 16384, 1024}, {2097152, 16384, 2048}, {32, 16384, 8}, {128, 16384, 16},
      {0, 16384, 0},         {16, 16384, 0},         {72, 16384, 0}, {524287, 16384, 0},
      {524289, 16384, 0},    {2097152, 1024, 0},     {2, 16384, 0},  {~0ull, 16384, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pvrtc4SideForLength(c.length, c.largest), c.side) << c.length << " bytes";
  }
}

TEST(Pvrtc4, RefusesSidesAndLengthsThatDoNotMatch) {
  std::vector<std::uint8_t> data(32);
  EXPECT_TRUE(decodePvrtc4(data.data(), data.size(), 12, true).empty());
  EXPECT_TRUE(decodePvrtc4(data.data(), data.size(), 4, true).empty());
  EXPECT_TRUE(decodePvrtc4(data.data(), data.size() - 1, 8, true).empty());
  EXPECT_TRUE(decodePvrtc4(nullptr, 32, 8, true).empty());
  EXPECT_TRUE(encodePvrtc4(nullptr, 8).empty());
  std::vector<std::uint8_t> image(12 * 12 * 4);
  EXPECT_TRUE(encodePvrtc4(image.data(), 12).empty());
}

// The upscaling wraps around, so the blocks at one edge of a texture blend
// with those at the opposite one. The earth's halves do not continue across
// that wrap (their edges meet other longitudes): their edge columns must
// still come back as close as the middle half of the texture. The test image
// ramps from dark to light, a hard jump at the wrap both ways; a sharp jump
// costs the texels beside it some error wherever it lies, but no more than
// twice and a quarter the middle's.
TEST(Pvrtc4, EdgesThatDoNotWrapDecodeAboutAsCloseAsTheMiddle) {
  const int rampSide = 256;
  std::vector<std::uint8_t> ramp(static_cast<std::size_t>(rampSide) * rampSide * 4);
  for (int y = 0; y < rampSide; y++) {
    for (int x = 0; x < rampSide; x++) {
      const double u = (x + 0.5) / rampSide, v = (y + 0.5) / rampSide;
      std::uint8_t* p = ramp.data() + (static_cast<std::size_t>(y) * rampSide + x) * 4;
      p[0] = static_cast<std::uint8_t>(30 + 200 * u + 20 * std::sin(37 * v + 11 * u));
      p[1] = static_cast<std::uint8_t>(230 - 200 * v + 20 * std::sin(29 * u - 7 * v));
      p[2] = static_cast<std::uint8_t>(120 + 90 * std::sin(9 * u + 13 * v) * std::cos(17 * u));
      p[3] = 255;
    }
  }
  std::string error;
  const std::optional<platform::gfx::Image> map =
      platform::gfx::Image::loadStraight(FLUVANE_EARTH_MAP, &error);
  ASSERT_TRUE(map) << error;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> image;
    int side;
    double allowance;  // of the edge's error over the middle's
  };
  const Case cases[] = {
      {"ramp", ramp, rampSide, 2.25},
      {"earth half 0", earth::cutHalf(map->pixels.data(), map->width, map->height, 0, 1024), 1024,
       1.0},
      {"earth half 1", earth::cutHalf(map->pixels.data(), map->width, map->height, 1, 1024), 1024,
       1.0},
  };
  for (const Case& c : cases) {
    const auto data = encodePvrtc4(c.image.data(), c.side);
    const auto decoded = decodePvrtc4(data.data(), data.size(), c.side, false);
    ASSERT_EQ(decoded.size(), c.image.size()) << c.name;
    for (const bool rows : {false, true}) {
      // The 6 lines at each edge against the middle half of the lines.
      const double edge = bandError(c.image, decoded, c.side, rows, 0, 6);
      const double middle = bandError(c.image, decoded, c.side, rows, c.side / 4, c.side / 2);
      EXPECT_LE(edge, c.allowance * middle)
          << c.name << (rows ? ", top and bottom rows" : ", left and right columns")
          << ": mean error " << edge << " at the edges, " << middle << " in the middle";
    }
  }
}
