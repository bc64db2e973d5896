// Shared pieces of the tests that draw with GL: a context of their own, the
// golden-image comparison and pixel probes.
//
// Every GL test makes its own context; a context that cannot be made is a
// failure, not a skip (CI has Mesa; a skip would hide a broken set-up).
//
// Golden images are small PNGs in the test folder's golden/ directory,
// compared channel by channel: a pixel matches when no channel differs by
// more than the tolerance, and the frame matches when at most the allowed
// share of pixels does not (llvmpipe's rounding may change between Mesa
// versions). FLUVANE_UPDATE_GOLDEN=1 writes the frame as the new golden
// image instead, for a person to look at.
#ifndef TESTS_SUPPORT_GL_TEST_SUPPORT_H
#define TESTS_SUPPORT_GL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/GLHost.h"

namespace gltest {

// A surfaceless pbuffer host of the given size, current on this thread,
// with a clean state for drawing: viewport, identity matrices, depth test
// on, clear colour black.
class GLTest : public ::testing::Test {
 protected:
  explicit GLTest(int width = 64, int height = 64) : width_(width), height_(height) {}
  void SetUp() override;
  void TearDown() override;

  // The whole frame, top-down RGBA8.
  std::vector<std::uint8_t> frame() const;
  // One pixel of the frame (x from the left, y from the top).
  std::array<int, 4> pixel(int x, int y) const;

  std::unique_ptr<platform::gfx::GLHost> host_;
  int width_;
  int height_;
};

// The pixel at (x, y) of a top-down RGBA8 frame of the given width.
std::array<int, 4> pixelAt(const std::vector<std::uint8_t>& frame, int width, int x, int y);

// What a box of a frame holds: the mean of each colour channel, the spread
// (standard deviation) of the brightness ((r + g + b) / 3), the detail (the
// mean change of brightness from a pixel to its right neighbour) and the
// mean colourfulness (the largest channel less the smallest). A textured
// picture has detail and, when coloured, colourfulness; a smooth shading
// has spread without detail, a flat fill neither.
struct RegionStats {
  double red = 0, green = 0, blue = 0;
  double brightness = 0;
  double spread = 0;
  double detail = 0;
  double colourfulness = 0;
};
// The box (x, y, w, h in pixels, clipped to the frame) of a top-down RGBA8
// frame of the given size.
RegionStats regionStats(const std::vector<std::uint8_t>& frame, int width, int height, int x,
                        int y, int w, int h);

// Compares a top-down RGBA8 frame with golden/<name>.png (see above);
// a failure message tells how many pixels differ and by how much.
::testing::AssertionResult matchesGolden(const std::string& name,
                                         const std::vector<std::uint8_t>& frame, int width,
                                         int height, int tolerance = 4, double allowedShare = 0.01);

}  // namespace gltest

#endif
