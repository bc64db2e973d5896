// Texture loaders on Mesa: compressed files decoded in software, images
// through stb_image, empty and raw textures, and every refusal with its
// message.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "VexelGraphics/VGMesh.h"
#include "VexelGraphics/VGRenderObject.h"
#include "VexelGraphics/VGTexture.h"
#include "VexelGraphics/vg_test_support.h"
#include "platform/Paths.h"
#include "platform/gfx/Image.h"
#include "platform/gfx/Pvrtc.h"
#include "support/gl_test_support.h"

using platform::Paths;
using vgtest::loggedBy;

namespace {

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

class TextureTest : public gltest::GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    resources_ = Paths::join(Paths::home(), "resources");
    ASSERT_TRUE(Paths::mkdirs(resources_));
    setenv("FLUVANE_RESOURCES", resources_.c_str(), 1);
  }

  void TearDown() override {
    unsetenv("FLUVANE_RESOURCES");
    GLTest::TearDown();
  }

  void writeResource(const std::string& name, const std::string& bytes) {
    std::ofstream(Paths::join(resources_, name), std::ios::binary) << bytes;
  }

  // A compressed texture of the given side, every block opaque colour A
  // with modulation 0.
  void writeUniformPvr(const std::string& name, int side, const std::uint8_t colour[4]) {
    const std::uint32_t word = platform::gfx::pvrtcColourWord(colour, colour, false);
    std::string data(static_cast<std::size_t>(side) * side / 2, '\0');
    for (std::size_t at = 0; at < data.size(); at += 8) {
      for (int i = 0; i < 4; i++) data[at + 4 + i] = static_cast<char>(word >> (8 * i));
    }
    writeResource(name, data);
  }

  // Draws the texture over the whole frame, blended for premultiplied
  // alpha, and answers the pixel at the centre.
  std::array<int, 4> drawTexture(GLuint texture) {
    VGMesh mesh;
    mesh.generateQuadZ(0, 0, 0, 2, 2);
    VGRenderObject object;
    object.addMesh(&mesh);
    object.setTexture(texture);
    object.m_blending = true;
    object.m_srcBlend = GL_ONE;
    object.m_dstBlend = GL_ONE_MINUS_SRC_ALPHA;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    object.render();
    return pixel(32, 32);
  }

  std::string resources_;
};

TEST_F(TextureTest, CompressedFilesOfTheRightLengthsLoadAndDraw) {
  const std::uint8_t teal[4] = {0, 128, 128, 255};
  const struct {
    const char* name;
    int side;
  } cases[] = {{"ping.pvr", 8}, {"earth_1024.pvr", 1024}, {"earth_2048.pvr", 2048}};
  for (const auto& c : cases) {
    writeUniformPvr(c.name, c.side, teal);
    EXPECT_EQ(std::filesystem::file_size(Paths::join(resources_, c.name)),
              static_cast<std::uintmax_t>(c.side) * c.side / 2);
    GLuint texture = 0;
    const auto lines = loggedBy([&] { texture = VGTexture::loadCompressedTexture(c.name); });
    ASSERT_NE(texture, 0u) << c.name;
    EXPECT_EQ(lines.front(), std::string("Loading compressed texture at path \"") + c.name + "\"");
    EXPECT_EQ(lines.size(), 1u);
    // Teal as colour A stores it: green 16 of 31 (132) and blue 8 of 15,
    // widened to 17 of 31 (140).
    EXPECT_EQ(drawTexture(texture), (std::array<int, 4>{0, 132, 140, 255})) << c.name;
    VGTexture::releaseTexture(texture);
    EXPECT_FALSE(glIsTexture(texture));
  }
}

TEST_F(TextureTest, MipmapFlagTurnsOnGenerationAndTheMipmapFilter) {
  const std::uint8_t grey[4] = {100, 100, 100, 255};
  writeUniformPvr("grey.pvr", 64, grey);
  const GLuint plain = VGTexture::loadCompressedTexture("grey.pvr", true);
  ASSERT_NE(plain, 0u);
  GLint generate = -1, minFilter = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, &generate);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  EXPECT_EQ(generate, GL_FALSE);
  EXPECT_EQ(minFilter, GL_LINEAR);
  const GLuint mipmapped = VGTexture::loadCompressedTexture("grey.pvr", true, true);
  ASSERT_NE(mipmapped, 0u);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, &generate);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  EXPECT_EQ(generate, GL_TRUE);
  EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
  EXPECT_NE(plain, mipmapped);
}

TEST_F(TextureTest, CompressedFilesOfOtherLengthsAreRefusedBeforeReading) {
  const struct {
    const char* name;
    std::size_t length;
  } cases[] = {{"empty.pvr", 0},
               {"short.pvr", 524287},
               {"long.pvr", 524289},
               {"twelve.pvr", 72},
               {"tiny.pvr", 8}};
  for (const auto& c : cases) {
    writeResource(c.name, std::string(c.length, '\x55'));
    GLuint texture = 1;
    const auto lines = loggedBy([&] { texture = VGTexture::loadCompressedTexture(c.name); });
    EXPECT_EQ(texture, 0u) << c.name;
    ASSERT_EQ(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[1], "loadCompressedTexture failed: " + std::to_string(c.length) +
                            " bytes is no square 4 bpp texture of 8 to 16384 texels. ");
  }
}

TEST_F(TextureTest, MissingFilesAndImagesAreReported) {
  GLuint texture = 1;
  auto lines = loggedBy([&] { texture = VGTexture::loadCompressedTexture("nowhere.pvr"); });
  EXPECT_EQ(texture, 0u);
  EXPECT_EQ(lines, (std::vector<std::string>{"Loading compressed texture at path \"nowhere.pvr\"",
                                             "texture file not found in bundle!"}));
  lines = loggedBy([&] { texture = VGTexture::loadTexture("nowhere.png"); });
  EXPECT_EQ(texture, 0u);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Loading texture at path \"nowhere.png\"");
  EXPECT_EQ(lines[1], "Texture load failed!");
  writeResource("broken.png", "\x89PNG but not really");
  EXPECT_EQ(VGTexture::loadTexture("broken.png"), 0u);
}

TEST_F(TextureTest, ImageWithAlphaIsUploadedPremultiplied) {
  // 2 x 2 of half-transparent red.
  const std::uint8_t pixels[16] = {255, 0, 0, 128, 255, 0, 0, 128, 255, 0, 0, 128, 255, 0, 0, 128};
  ASSERT_TRUE(platform::gfx::writePng(Paths::join(resources_, "red.png"), 2, 2, pixels));
  GLuint texture = 0;
  const auto lines = loggedBy([&] { texture = VGTexture::loadTexture("red.png"); });
  ASSERT_NE(texture, 0u);
  EXPECT_EQ(lines, (std::vector<std::string>{"Loading texture at path \"red.png\""}));
  // Over black with (ONE, ONE_MINUS_SRC_ALPHA): the premultiplied colour.
  const auto centre = drawTexture(texture);
  EXPECT_EQ(centre[0], 128);
  EXPECT_EQ(centre[1], 0);
}

TEST_F(TextureTest, EmptyTexturesRefuseSidesThatAreNotASize) {
  for (float side : {std::numeric_limits<float>::quiet_NaN(), 0.0f, -4.0f, 0.5f, 1e9f,
                     std::numeric_limits<float>::infinity(), 16385.0f}) {
    GLuint texture = 1;
    const auto lines = loggedBy([&] { texture = VGTexture::createEmptyTexture(side); });
    EXPECT_EQ(texture, 0u) << side;
    EXPECT_TRUE(contains(lines, "createEmptyTexture failed: no texture of side")) << side;
  }
  // An odd side needs byte-aligned rows: all zero, no GL error.
  const GLuint texture = VGTexture::createEmptyTexture(13.0f);
  ASSERT_NE(texture, 0u);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_EQ(drawTexture(texture), (std::array<int, 4>{0, 0, 0, 255}));
}

TEST_F(TextureTest, RawRGBADataIsUploadedAsGiven) {
  const std::uint8_t blue[4] = {0, 0, 255, 255};
  EXPECT_EQ(VGTexture::createRGBATextureFromData(nullptr, 1, 1), 0u);
  EXPECT_EQ(VGTexture::createRGBATextureFromData(blue, 0, 1), 0u);
  EXPECT_EQ(VGTexture::createRGBATextureFromData(blue, 1, -1), 0u);
  EXPECT_EQ(VGTexture::createRGBATextureFromData(blue, 1 << 20, 1), 0u);
  const GLuint texture = VGTexture::createRGBATextureFromData(blue, 1, 1);
  ASSERT_NE(texture, 0u);
  EXPECT_EQ(drawTexture(texture), (std::array<int, 4>{0, 0, 255, 255}));
  // An image whose pixels do not match its size is refused.
  platform::gfx::Image image;
  image.width = 4;
  image.height = 4;
  image.pixels.assign(12, 0);
  EXPECT_EQ(VGTexture::loadTextureFromImage(image), 0u);
}

TEST_F(TextureTest, WithoutAContextNothingIsMadeAndNoNameIsInvented) {
  const std::uint8_t blue[4] = {0, 0, 255, 255};
  writeUniformPvr("ok.pvr", 8, blue);
  ASSERT_TRUE(platform::gfx::writePng(Paths::join(resources_, "ok.png"), 1, 1, blue));
  host_.reset();
  ASSERT_FALSE(platform::gfx::hasCurrentContext());
  std::vector<std::string> lines = loggedBy([&] {
    EXPECT_EQ(VGTexture::loadCompressedTexture("ok.pvr"), 0u);
    EXPECT_EQ(VGTexture::createEmptyTexture(16), 0u);
    EXPECT_EQ(VGTexture::createRGBATextureFromData(blue, 1, 1), 0u);
    EXPECT_EQ(VGTexture::loadTexture("ok.png"), 0u);
    VGTexture::releaseTexture(5);
  });
  EXPECT_TRUE(contains(lines, "loadCompressedTexture failed: no current GL context. "));
  EXPECT_TRUE(contains(lines, "createEmptyTexture failed: no current GL context. "));
  EXPECT_TRUE(contains(lines, "createTextureFromData failed: no current GL context. "));
  EXPECT_TRUE(contains(lines, "loadTexture failed: no current GL context. "));
}
