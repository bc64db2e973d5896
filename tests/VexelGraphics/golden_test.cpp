// Small golden frames (64 x 64) of what the globe draws: a lit, textured
// quad and both particle renderers. Compared with a tolerance of a few
// levels; FLUVANE_UPDATE_GOLDEN=1 rewrites them.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "VexelGraphics/VGGLU.h"
#include "VexelGraphics/VGMath.h"
#include "VexelGraphics/VGMesh.h"
#include "VexelGraphics/VGNode.h"
#include "VexelGraphics/VGParticleSystem.h"
#include "VexelGraphics/VGRenderObject.h"
#include "VexelGraphics/VGTexture.h"
#include "support/gl_test_support.h"

namespace {

// A checkerboard of 8 x 8 texels in two colours.
GLuint checkerTexture() {
  std::vector<std::uint8_t> pixels(8 * 8 * 4);
  for (int y = 0; y < 8; y++) {
    for (int x = 0; x < 8; x++) {
      std::uint8_t* p = pixels.data() + (y * 8 + x) * 4;
      const bool dark = (x + y) % 2;
      p[0] = dark ? 40 : 230;
      p[1] = dark ? 90 : 200;
      p[2] = dark ? 200 : 60;
      p[3] = 255;
    }
  }
  return VGTexture::createRGBATextureFromData(pixels.data(), 8, 8);
}

// A round, soft sprite: white, alpha falling from the centre.
GLuint softDotTexture() {
  const int side = 16;
  std::vector<std::uint8_t> pixels(side * side * 4);
  for (int y = 0; y < side; y++) {
    for (int x = 0; x < side; x++) {
      const float dx = (x + 0.5f - side / 2.0f) / (side / 2.0f);
      const float dy = (y + 0.5f - side / 2.0f) / (side / 2.0f);
      const float a = std::max(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
      std::uint8_t* p = pixels.data() + (y * side + x) * 4;
      p[0] = p[1] = p[2] = 255;
      p[3] = static_cast<std::uint8_t>(255 * a);
    }
  }
  return VGTexture::createRGBATextureFromData(pixels.data(), side, side);
}

void perspectiveCamera() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(40, 1, 1, 100);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -10);
}

VGParticle* place(VGParticleSystem& system, const Vector3& position, const Vector3& velocity,
                  VGColor colour, float size) {
  VGParticle* p = system.createParticle();
  p->position = position;
  p->velocity = velocity;
  p->color = colour;
  p->size = size;
  p->life = p->lifetime = 10;
  return p;
}

// The quad of LitTexturedQuad: a checkerboard, lit, turned toward the
// light.
void drawLitTexturedQuad() {
  perspectiveCamera();
  const GLfloat position[4] = {0, 0, 10, 0};
  const GLfloat diffuse[4] = {0.9f, 0.9f, 0.9f, 1};
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  glEnable(GL_LIGHT0);
  const GLuint texture = checkerTexture();
  ASSERT_NE(texture, 0u);
  VGMesh mesh;
  mesh.generateQuadZ(0, 0, 0, 5, 5);
  // Facing the viewer: normals toward +z.
  mesh.setNormals({0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
  mesh.setVertexCount(4);
  VGRenderObject object;
  object.addMesh(&mesh);
  object.setTexture(texture);
  object.m_lighting = true;
  VGNode node;
  node.addRenderObject(&object);
  Quaternion turn;
  turn.FromAngleAxis(0.6f, Vector3(0.3f, 1, 0).normalisedCopy());
  node.setOrientation(turn);
  node.render();
}

// Three soft dots and one too faint to draw, through the billboard
// renderer.
void drawBillboardParticles() {
  perspectiveCamera();
  const GLuint texture = softDotTexture();
  ASSERT_NE(texture, 0u);
  VGParticleSystem system;
  auto* renderer = new VGParticleRendererBillboard(16);
  renderer->m_texture = texture;
  system.init(new VGParticleAnimatorGravity(), renderer, 16);
  place(system, Vector3(-1.5f, -1, 0), Vector3::ZERO, {255, 80, 80, 255}, 24);
  place(system, Vector3(1.5f, 1, 0), Vector3::ZERO, {80, 255, 80, 200}, 16);
  place(system, Vector3(0, 0, 0), Vector3::ZERO, {80, 80, 255, 255}, 12);
  place(system, Vector3(1.5f, -1.5f, 0), Vector3::ZERO, {255, 255, 255, 5}, 30);  // not drawn
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  system.render();
}

}  // namespace

class GoldenTest : public gltest::GLTest {};

TEST_F(GoldenTest, LitTexturedQuad) {
  drawLitTexturedQuad();
  EXPECT_TRUE(gltest::matchesGolden("lit_textured_quad", frame(), width_, height_));
  // Lit, not flat: the quad's pixels are not all the same.
  EXPECT_NE(pixel(24, 32), pixel(40, 32));
}

TEST_F(GoldenTest, BillboardParticles) {
  drawBillboardParticles();
  EXPECT_TRUE(gltest::matchesGolden("billboard_particles", frame(), width_, height_));
  EXPECT_GT(pixel(32, 32)[2], 100);
}

// What a frame leaves behind reaches the next: after the point sprites,
// the textured quad is drawn as it is alone.
TEST_F(GoldenTest, AQuadAfterTheBillboardKeepsItsTexture) {
  drawBillboardParticles();
  EXPECT_FALSE(glIsEnabled(GL_POINT_SPRITE_OES));
  GLint replace = GL_TRUE;
  glGetTexEnviv(GL_POINT_SPRITE_OES, GL_COORD_REPLACE_OES, &replace);
  EXPECT_EQ(replace, GL_FALSE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_BLEND);
  drawLitTexturedQuad();
  EXPECT_TRUE(gltest::matchesGolden("lit_textured_quad", frame(), width_, height_));
  EXPECT_NE(pixel(24, 32), pixel(40, 32));
}

TEST_F(GoldenTest, QuadParticles) {
  perspectiveCamera();
  const GLuint texture = softDotTexture();
  ASSERT_NE(texture, 0u);
  VGParticleSystem system;
  system.init(new VGParticleAnimatorAttractor(), new VGParticleRendererQuad(16), 16);
  // Flying toward the viewer the quads face it; across the view they are
  // seen edge on.
  place(system, Vector3(-1.5f, 0, 0), Vector3(0, 0, 2), {55, 255, 55, 255}, 0.8f);
  place(system, Vector3(1.5f, 1, 0), Vector3(0.5f, 0.3f, 1), {255, 200, 55, 255}, 0.6f);
  place(system, Vector3(1.5f, -1, 0), Vector3(1, 0, 0), {255, 80, 80, 255}, 0.6f);
  place(system, Vector3(0, -1.5f, 0), Vector3::ZERO, {155, 155, 255, 255}, 0.7f);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE);
  glBindTexture(GL_TEXTURE_2D, texture);
  system.render();
  EXPECT_TRUE(gltest::matchesGolden("quad_particles", frame(), width_, height_));
}
