// The demonstration program draws its scene headlessly into a PNG.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include "platform/Paths.h"
#include "platform/gfx/Image.h"

TEST(VGDemo, WritesANonEmptyFrameWithoutADisplay) {
  // The textures the build made, beside the program.
  unsetenv("FLUVANE_RESOURCES");
  platform::Paths::mkdirs(platform::Paths::home());
  const std::string png = platform::Paths::join(platform::Paths::home(), "demo.png");
  const std::string command =
      std::string("'") + VG_DEMO_PROGRAM + "' --png '" + png + "' --frames 60 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string error;
  std::optional<platform::gfx::Image> frame = platform::gfx::Image::loadStraight(png, &error);
  ASSERT_TRUE(frame) << error;
  ASSERT_EQ(frame->width, 320);
  ASSERT_EQ(frame->height, 480);
  auto at = [&](int x, int y) { return frame->pixels.data() + (y * 320 + x) * 4; };
  const std::uint8_t* corner = at(2, 2);
  std::set<std::uint32_t> colours;
  int background = 0, green = 0;
  for (int y = 0; y < 480; y++) {
    for (int x = 0; x < 320; x++) {
      const std::uint8_t* p = at(x, y);
      colours.insert(p[0] << 16 | p[1] << 8 | p[2]);
      if (p[0] == corner[0] && p[1] == corner[1] && p[2] == corner[2]) background++;
      if (p[1] > 200 && p[0] < 150 && p[2] < 200) green++;  // the note quads
    }
  }
  // The globe fills a good part of the frame in many colours; the notes show.
  EXPECT_LT(background, 320 * 480 * 3 / 4);
  EXPECT_GT(colours.size(), 500u);
  EXPECT_GT(green, 20);
  const std::uint8_t* centre = at(160, 240);
  EXPECT_FALSE(centre[0] == corner[0] && centre[1] == corner[1] && centre[2] == corner[2]);
}
