// Images through stb_image: premultiplied RGBA8, sizes checked before
// decoding, clear failures for missing and broken files.
#include "platform/gfx/Image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Paths.h"

using platform::Paths;
using platform::gfx::Image;
using platform::gfx::writePng;

namespace {

std::string tempPath(const std::string& name) {
  Paths::mkdirs(Paths::home());
  return Paths::join(Paths::home(), name);
}

}  // namespace

TEST(Image, PngWithAlphaIsReadBackPremultiplied) {
  // 2 x 1: half-transparent orange, then a fully transparent white.
  const std::uint8_t pixels[] = {255, 128, 0, 128, 255, 255, 255, 0};
  const std::string path = tempPath("alpha.png");
  ASSERT_TRUE(writePng(path, 2, 1, pixels));
  std::string error;
  std::optional<Image> image = Image::load(path, &error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->width, 2);
  EXPECT_EQ(image->height, 1);
  EXPECT_EQ(image->pixels, (std::vector<std::uint8_t>{128, 64, 0, 128, 0, 0, 0, 0}));
  // The straight form keeps the colours as written.
  std::optional<Image> straight = Image::loadStraight(path);
  ASSERT_TRUE(straight);
  EXPECT_EQ(straight->pixels, std::vector<std::uint8_t>(pixels, pixels + 8));
}

TEST(Image, RowsAreTopDown) {
  const std::uint8_t pixels[] = {10, 0, 0, 255, 20, 0, 0, 255};  // 1 x 2
  const std::string path = tempPath("rows.png");
  ASSERT_TRUE(writePng(path, 1, 2, pixels));
  std::optional<Image> image = Image::load(path);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->pixels[0], 10);
  EXPECT_EQ(image->pixels[4], 20);
}

TEST(Image, MissingBrokenAndOversizedFilesAreRefusedWithAReason) {
  std::string error;
  EXPECT_FALSE(Image::load(tempPath("no-such.png"), &error));
  EXPECT_NE(error.find("no-such.png"), std::string::npos) << error;

  error.clear();
  EXPECT_FALSE(Image::decode("not an image at all", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(Image::decode("", &error));

  // One pixel wider than allowed: refused from the header, before decoding.
  std::vector<std::uint8_t> wide(static_cast<std::size_t>(Image::kLargestSide + 1) * 4, 255);
  const std::string path = tempPath("wide.png");
  ASSERT_TRUE(writePng(path, Image::kLargestSide + 1, 1, wide.data()));
  error.clear();
  EXPECT_FALSE(Image::load(path, &error));
  EXPECT_NE(error.find("larger than 4096"), std::string::npos) << error;

  // The largest side itself is fine.
  ASSERT_TRUE(writePng(path, Image::kLargestSide, 1, wide.data()));
  EXPECT_TRUE(Image::load(path));
}

TEST(Image, WritePngRefusesNothingToWrite) {
  std::string error;
  EXPECT_FALSE(writePng(tempPath("empty.png"), 0, 4, nullptr, &error));
  EXPECT_FALSE(error.empty());
  const std::uint8_t pixel[4] = {1, 2, 3, 4};
  EXPECT_FALSE(writePng("/nonexistent-dir/x.png", 1, 1, pixel, &error));
}
