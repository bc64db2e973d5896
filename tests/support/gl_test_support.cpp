#include "support/gl_test_support.h"

#include <GLES/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/gfx/Image.h"

namespace gltest {

namespace {

// The tests run without a display; the window host goes through SDL's
// offscreen driver unless the caller chose another.
const bool g_offscreen = [] {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  return true;
}();

}  // namespace

void GLTest::SetUp() {
  std::string error;
  host_ = platform::gfx::GLHost::openSurfaceless(width_, height_, &error);
  ASSERT_TRUE(host_) << "no GL ES 1.1 context: " << error;
  glViewport(0, 0, width_, height_);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glEnable(GL_DEPTH_TEST);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void GLTest::TearDown() { host_.reset(); }

std::vector<std::uint8_t> GLTest::frame() const { return host_->readPixels(); }

std::array<int, 4> GLTest::pixel(int x, int y) const { return pixelAt(frame(), width_, x, y); }

std::array<int, 4> pixelAt(const std::vector<std::uint8_t>& frame, int width, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
  if (at + 3 >= frame.size()) return {-1, -1, -1, -1};
  return {frame[at], frame[at + 1], frame[at + 2], frame[at + 3]};
}

RegionStats regionStats(const std::vector<std::uint8_t>& frame, int width, int height, int x,
                        int y, int w, int h) {
  RegionStats stats;
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(width, x + w), y1 = std::min(height, y + h);
  double count = 0, squares = 0, steps = 0;
  for (int py = y0; py < y1; py++) {
    for (int px = x0; px < x1; px++) {
      const std::array<int, 4> p = pixelAt(frame, width, px, py);
      if (p[0] < 0) continue;
      const double light = (p[0] + p[1] + p[2]) / 3.0;
      if (px + 1 < x1) {
        const std::array<int, 4> q = pixelAt(frame, width, px + 1, py);
        stats.detail += std::fabs((q[0] + q[1] + q[2]) / 3.0 - light);
        steps++;
      }
      stats.red += p[0];
      stats.green += p[1];
      stats.blue += p[2];
      stats.brightness += light;
      squares += light * light;
      stats.colourfulness += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
      count++;
    }
  }
  if (count == 0) return stats;
  stats.red /= count;
  stats.green /= count;
  stats.blue /= count;
  stats.brightness /= count;
  stats.colourfulness /= count;
  if (steps > 0) stats.detail /= steps;
  stats.spread = std::sqrt(std::max(0.0, squares / count - stats.brightness * stats.brightness));
  return stats;
}

::testing::AssertionResult matchesGolden(const std::string& name,
                                         const std::vector<std::uint8_t>& frame, int width,
                                         int height, int tolerance, double allowedShare) {
  const std::string path = std::string(FLUVANE_GOLDEN_DIR) + "/" + name + ".png";
  if (frame.size() != static_cast<std::size_t>(width) * height * 4) {
    return ::testing::AssertionFailure() << "frame of " << frame.size() << " bytes";
  }
  const char* update = std::getenv("FLUVANE_UPDATE_GOLDEN");
  if (update && std::strcmp(update, "1") == 0) {
    std::string error;
    if (!platform::gfx::writePng(path, width, height, frame.data(), &error)) {
      return ::testing::AssertionFailure() << error;
    }
    return ::testing::AssertionSuccess() << "wrote " << path;
  }
  std::string error;
  std::optional<platform::gfx::Image> golden = platform::gfx::Image::loadStraight(path, &error);
  if (!golden) {
    return ::testing::AssertionFailure() << "no golden image " << path << " (" << error
                                         << "); FLUVANE_UPDATE_GOLDEN=1 writes one";
  }
  if (golden->width != width || golden->height != height) {
    return ::testing::AssertionFailure()
           << "golden image is " << golden->width << " x " << golden->height << ", frame " << width
           << " x " << height;
  }
  long differing = 0;
  int largest = 0;
  for (std::size_t i = 0; i < frame.size(); i += 4) {
    int worst = 0;
    for (int c = 0; c < 4; c++) {
      worst = std::max(worst, std::abs(static_cast<int>(frame[i + c]) - golden->pixels[i + c]));
    }
    largest = std::max(largest, worst);
    if (worst > tolerance) differing++;
  }
  const long allowed = static_cast<long>(allowedShare * width * height);
  if (differing > allowed) {
    return ::testing::AssertionFailure()
           << differing << " pixels differ from " << path << " by more than " << tolerance
           << " (largest " << largest << "; " << allowed << " allowed)";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace gltest
