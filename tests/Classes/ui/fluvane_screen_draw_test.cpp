// The instrument screen drawn off screen with a real GL ES 1.1 context: the
// holes show whether they are covered, the hole colour is clamped before it
// becomes a byte, broken flare files leave the holes drawn untextured, and
// breath draws ripples.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Classes/EAGLView.h"
#include "Classes/FluvaneGfx.h"
#include "platform/Paths.h"
#include "support/gl_test_support.h"
#include "tools/SgiWriter.h"

namespace {

// Flares of the test's own: a solid disc, so what a quad covers is plain.
void writeFlares(const std::string& dir, bool broken) {
  platform::Paths::mkdirs(dir);
  const unsigned side = 32;
  std::vector<std::uint8_t> disc(side * side);
  for (unsigned y = 0; y < side; y++) {
    for (unsigned x = 0; x < side; x++) {
      const double dx = x + 0.5 - side / 2.0, dy = y + 0.5 - side / 2.0;
      disc[y * side + x] = dx * dx + dy * dy < side * side / 4.0 ? 255 : 0;
    }
  }
  std::vector<std::uint8_t> file = sgi::encode(disc, side, side, true);
  if (broken) sgi::put32(file, 512, 0xfffffff0u);  // the first row lies outside the file
  for (int i = 1; i <= 6; i++) {
    std::ofstream out(platform::Paths::join(dir, "flare" + std::to_string(i) + ".bw"),
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
  }
}

class FluvaneScreenDraw : public gltest::GLTest {
 protected:
  FluvaneScreenDraw() : GLTest(320, 480) {}
  void prepare(bool brokenFlares) {
    const std::string dir = platform::Paths::join(
        platform::Paths::home(), brokenFlares ? "broken-flares" : "flares");
    writeFlares(dir, brokenFlares);
    setenv("FLUVANE_RESOURCES", dir.c_str(), 1);
    FluvaneGfx::reset();
    view_ = std::make_shared<EAGLView>();  // initialises the graphics: a context is current
  }
  void TearDown() override {
    view_.reset();
    FluvaneGfx::reset();
    unsetenv("FLUVANE_RESOURCES");
    GLTest::TearDown();
  }
  std::vector<std::uint8_t> frames(int count) {
    for (int i = 0; i < count; i++) view_->drawView();
    view_->drawGL();
    return frame();
  }
  std::shared_ptr<EAGLView> view_;
};

int brightness(const std::array<int, 4>& p) { return p[0] + p[1] + p[2]; }

TEST_F(FluvaneScreenDraw, CoveredAndOpenHolesDrawDifferently) {
  prepare(false);
  for (int i = 0; i < 4; i++) ASSERT_NE(FluvaneGfx::texture(i), 0u);
  const std::vector<std::uint8_t> open = frames(30);
  FluvaneGfx::FingerHole::get(0)->keyOn();
  const std::vector<std::uint8_t> covered = frames(30);
  // Hole 0 (left, lower) is centred at (80, 344): 60 points to its right the
  // grown centre of a covered hole reaches; an open one leaves it dark.
  const auto beside0Open = gltest::pixelAt(open, 320, 140, 344);
  const auto beside0Covered = gltest::pixelAt(covered, 320, 140, 344);
  EXPECT_LT(brightness(beside0Open), 30);
  EXPECT_GT(brightness(beside0Covered), 200);
  // The untouched hole 3 (right, upper, centred at (240, 152)) is unchanged.
  for (int dx : {0, 20, 40}) {
    EXPECT_EQ(gltest::pixelAt(open, 320, 240 + dx, 152),
              gltest::pixelAt(covered, 320, 240 + dx, 152))
        << dx;
  }
  // The centre's colour is 0.8 of (0.5, 0.5, 2.0): the blue clamps at 255
  // instead of wrapping to 152.
  const auto centre = gltest::pixelAt(covered, 320, 80, 344);
  EXPECT_NEAR(centre[0], 102, 3);
  EXPECT_NEAR(centre[1], 102, 3);
  EXPECT_GE(centre[2], 250);
}

TEST_F(FluvaneScreenDraw, BrokenFlaresLeaveTheHolesUntextured) {
  prepare(true);
  const std::vector<std::uint8_t> shot = frames(30);
  // Without a texture the whole quad is drawn: the corner of hole 0's
  // centre quad (half 40 points) is lit, where a disc would leave it dark.
  EXPECT_GT(brightness(gltest::pixelAt(shot, 320, 80 + 37, 344 - 37)), 100);
  EXPECT_GT(brightness(gltest::pixelAt(shot, 320, 80, 344)), 100);
}

TEST_F(FluvaneScreenDraw, BreathDrawsRipplesAboveTheMouthpiece) {
  prepare(false);
  const std::vector<std::uint8_t> still = frames(10);
  for (int i = 0; i < 10; i++) {
    FluvaneGfx::breathControl(0.5f);
    view_->drawView();
  }
  view_->drawGL();
  const std::vector<std::uint8_t> blowing = frame();
  // The ripple starts at (0, -1.35): (160, 456) on screen, green.
  const auto before = gltest::pixelAt(still, 320, 160, 456);
  const auto after = gltest::pixelAt(blowing, 320, 160, 456);
  EXPECT_LT(before[1], 20);
  EXPECT_GT(after[1], 100);
  EXPECT_GT(after[1], after[2]);
}

}  // namespace
