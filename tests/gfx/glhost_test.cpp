// The GL host: an ES 1.1 context both ways (SDL window through EGL on the
// offscreen driver, and a surfaceless EGL pbuffer), frame buffers of the
// OES extension, and read-back rows turned top-down.
#include "platform/gfx/GLHost.h"

#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/gl_test_support.h"

using platform::gfx::FrameBuffer;
using platform::gfx::FramebufferOES;
using platform::gfx::GLHost;

namespace {

// Fills the lower half of the bound frame buffer (GL's y up) with red and
// the upper half with green, by clearing with scissors.
void paintHalves(int width, int height) {
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, width, height / 2);
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glScissor(0, height / 2, width, height - height / 2);
  glClearColor(0, 1, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
}

}  // namespace

TEST(GLHost, SurfacelessPbufferGivesAnES11ContextAndReadsBackTopDown) {
  std::string error;
  auto host = GLHost::openSurfaceless(32, 16, &error);
  ASSERT_TRUE(host) << error;
  EXPECT_FALSE(host->isWindow());
  EXPECT_TRUE(platform::gfx::hasCurrentContext());
  EXPECT_EQ(host->glVersion().rfind("OpenGL ES-CM 1.1", 0), 0u) << host->glVersion();
  EXPECT_EQ(host->eglVersion(), "1.5");
  EXPECT_EQ(host->width(), 32);
  EXPECT_EQ(host->height(), 16);
  paintHalves(32, 16);
  const auto pixels = host->readPixels();
  ASSERT_EQ(pixels.size(), 32u * 16 * 4);
  // Row 0 of the read-back is the top: green.
  EXPECT_EQ(gltest::pixelAt(pixels, 32, 5, 0), (std::array<int, 4>{0, 255, 0, 255}));
  EXPECT_EQ(gltest::pixelAt(pixels, 32, 5, 15), (std::array<int, 4>{255, 0, 0, 255}));
  host.reset();
  EXPECT_FALSE(platform::gfx::hasCurrentContext());
}

TEST(GLHost, SdlWindowOnTheOffscreenDriverGivesTheSameContext) {
  std::string error;
  auto host = GLHost::openWindow("Fluvane", 40, 60, &error);
  ASSERT_TRUE(host) << error;
  EXPECT_TRUE(host->isWindow());
  EXPECT_EQ(host->glVersion().rfind("OpenGL ES-CM 1.1", 0), 0u) << host->glVersion();
  EXPECT_EQ(host->width(), 40);
  EXPECT_EQ(host->height(), 60);
  glClearColor(0, 0, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  const auto pixels = host->readPixels();
  EXPECT_EQ(gltest::pixelAt(pixels, 40, 20, 30), (std::array<int, 4>{0, 0, 255, 255}));
  host->present();
}

TEST(GLHost, RefusesSizesOutOfRange) {
  std::string error;
  EXPECT_FALSE(GLHost::openSurfaceless(0, 10, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(GLHost::openSurfaceless(10, -1));
  EXPECT_FALSE(GLHost::openWindow("x", 0, 0));
}

TEST(GLHost, FrameBufferEntryPointsComeFromEGL) {
  auto host = GLHost::openSurfaceless(8, 8);
  ASSERT_TRUE(host);
  EXPECT_TRUE(FramebufferOES::get().complete());
}

TEST(GLHost, OffscreenFrameBufferDrawsAndReadsItsOwnPixels) {
  auto host = GLHost::openSurfaceless(16, 16);
  ASSERT_TRUE(host);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  std::string error;
  auto buffer = FrameBuffer::create(24, 10, &error);
  ASSERT_TRUE(buffer) << error;
  buffer->bind();
  paintHalves(24, 10);
  const auto pixels = buffer->read();
  ASSERT_EQ(pixels.size(), 24u * 10 * 4);
  EXPECT_EQ(gltest::pixelAt(pixels, 24, 0, 0), (std::array<int, 4>{0, 255, 0, 255}));
  EXPECT_EQ(gltest::pixelAt(pixels, 24, 23, 9), (std::array<int, 4>{255, 0, 0, 255}));
  buffer->unbind();
  // The pbuffer itself was not drawn into.
  EXPECT_EQ(gltest::pixelAt(host->readPixels(), 16, 8, 8), (std::array<int, 4>{0, 0, 0, 255}));
  EXPECT_FALSE(FrameBuffer::create(0, 10));
  EXPECT_FALSE(FrameBuffer::create(1 << 20, 10));
}

TEST(GLHost, NothingIsReadWithoutAContext) {
  EXPECT_FALSE(platform::gfx::hasCurrentContext());
  EXPECT_TRUE(platform::gfx::readPixelsTopDown(0, 0, 4, 4).empty());
  std::string error;
  EXPECT_FALSE(FrameBuffer::create(4, 4, &error));
  EXPECT_EQ(error, "no current GL context");
}
