// Meshes, render objects and nodes drawn off screen on Mesa: what reaches
// the pixels and what GL state is left behind.
#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "VexelGraphics/VGGLU.h"
#include "VexelGraphics/VGMesh.h"
#include "VexelGraphics/VGNode.h"
#include "VexelGraphics/VGRenderObject.h"
#include "VexelGraphics/vg_test_support.h"
#include "support/gl_test_support.h"

using gltest::GLTest;
using vgtest::near;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// A quad covering the whole 64 x 64 frame under identity matrices.
void fullQuad(VGMesh& mesh) { mesh.generateQuadZ(0, 0, 0, 2, 2); }

std::array<float, 16> currentModelView() {
  std::array<float, 16> m{};
  glGetFloatv(GL_MODELVIEW_MATRIX, m.data());
  return m;
}

}  // namespace

class SceneTest : public GLTest {};

TEST_F(SceneTest, RenderObjectWithoutLightingOrColourDrawsWhite) {
  VGMesh mesh;
  fullQuad(mesh);
  VGRenderObject object;
  object.addMesh(&mesh);
  EXPECT_EQ(mesh.parent(), &object);
  glColor4ub(10, 20, 30, 255);  // whatever was set before must not show
  object.render();
  EXPECT_EQ(pixel(32, 32), (std::array<int, 4>{255, 255, 255, 255}));
  object.setColor(0, 128, 255, 255);
  glClear(GL_DEPTH_BUFFER_BIT);
  object.render();
  EXPECT_EQ(pixel(10, 50), (std::array<int, 4>{0, 128, 255, 255}));
}

TEST_F(SceneTest, ZeroCountMeshDrawsNothingAndLeavesClientStateAlone) {
  VGMesh mesh;
  fullQuad(mesh);
  mesh.setVertexCount(0);
  glEnableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  mesh.render();
  EXPECT_TRUE(glIsEnabled(GL_NORMAL_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
  EXPECT_EQ(pixel(32, 32), (std::array<int, 4>{0, 0, 0, 255}));
  // A negative count is no count either.
  mesh.setVertexCount(-3);
  EXPECT_EQ(mesh.drawableCount(), 0);
}

TEST_F(SceneTest, MeshEnablesTheArraysItHasAndOnlyPointsTextureCoordinates) {
  VGMesh mesh;
  fullQuad(mesh);
  glEnableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  mesh.render();
  EXPECT_TRUE(glIsEnabled(GL_VERTEX_ARRAY));
  EXPECT_TRUE(glIsEnabled(GL_NORMAL_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_COLOR_ARRAY));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
}

TEST_F(SceneTest, DrawnCountNeverPassesTheVerticesTheArraysHold) {
  VGMesh mesh;
  fullQuad(mesh);
  mesh.setVertexCount(1000);
  EXPECT_EQ(mesh.drawableCount(), 4);
  mesh.setPositions({0, 0, 0, 1, 1, 1, 2, 2, 2}, 0);  // three positions, four normals
  EXPECT_EQ(mesh.drawableCount(), 3);
  mesh.setPositions({0, 0, 0, 1, 1, 1, 2, 2, 2}, 24);  // vertices at floats 0 and 6
  EXPECT_EQ(mesh.drawableCount(), 2);
  VGMesh interleaved;
  // Position and texture coordinates: 5 floats a vertex, 3 vertices.
  interleaved.setInterleaved(std::vector<float>(15, 0.0f), 5, 0, -1, 3);
  interleaved.setVertexCount(4);
  EXPECT_EQ(interleaved.drawableCount(), 3);
  interleaved.clear();
  EXPECT_EQ(interleaved.vertexCount(), 0);
  EXPECT_EQ(interleaved.drawableCount(), 0);
  // Without positions there is nothing to draw.
  VGMesh noPositions;
  noPositions.setNormals({0, 0, 1});
  noPositions.setVertexCount(1);
  EXPECT_EQ(noPositions.drawableCount(), 0);
}

TEST_F(SceneTest, QuadGeneratorsBuildTheirStrips) {
  VGMesh z;
  z.generateQuadZ(0, 190, 0, 10, 400);
  EXPECT_EQ(z.primitive(), static_cast<GLenum>(GL_TRIANGLE_STRIP));
  EXPECT_EQ(z.vertexCount(), 4);
  EXPECT_EQ(z.positions(), (std::vector<float>{-5, -10, 0, -5, 390, 0, 5, -10, 0, 5, 390, 0}));
  EXPECT_EQ(z.texCoords(),
            (std::vector<float>{0.01f, 0.99f, 0.01f, 0.01f, 0.99f, 0.99f, 0.99f, 0.01f}));
  VGMesh y;
  y.generateQuadY(0, 0.5f, 0, 10, 10);
  EXPECT_EQ(y.positions(),
            (std::vector<float>{-5, 0.5f, -5, -5, 0.5f, 5, 5, 0.5f, -5, 5, 0.5f, 5}));
  EXPECT_EQ(y.texCoords(), (std::vector<float>{0, 0, 0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(y.normals(), (std::vector<float>{0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, -1}));
}

TEST_F(SceneTest, RenderObjectPutsBackTheStateItChanged) {
  VGMesh mesh;
  fullQuad(mesh);
  VGRenderObject object;
  object.addMesh(&mesh);
  object.m_depthWrite = false;
  object.m_depthTest = false;
  object.m_polygonOffset = true;
  object.m_polygonOffsetFactor = 2.0f;
  object.m_polygonOffsetUnits = 3.0f;
  object.m_blending = true;
  object.m_srcBlend = GL_SRC_ALPHA;
  object.m_dstBlend = GL_ONE;
  object.render();
  GLboolean depthMask = GL_FALSE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
  EXPECT_TRUE(depthMask);
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_POLYGON_OFFSET_FILL));
  GLfloat factor = -1, units = -1;
  glGetFloatv(GL_POLYGON_OFFSET_FACTOR, &factor);
  glGetFloatv(GL_POLYGON_OFFSET_UNITS, &units);
  EXPECT_EQ(factor, 0.0f);
  EXPECT_EQ(units, 0.0f);
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SceneTest, LightingAppliesTheMaterialAndTexturingBindsTheTexture) {
  VGMesh mesh;
  fullQuad(mesh);
  VGRenderObject object;
  object.addMesh(&mesh);
  object.m_lighting = true;
  object.m_material.m_emission[0] = 0.25f;
  object.m_material.m_shininess = 20;
  GLuint texture = 0;
  glGenTextures(1, &texture);
  object.setTexture(texture);
  EXPECT_TRUE(object.m_textureOn);
  object.render();
  EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_COORD_ARRAY));
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), texture);
  GLfloat emission[4] = {}, shininess = 0;
  glGetMaterialfv(GL_BACK, GL_EMISSION, emission);
  glGetMaterialfv(GL_FRONT, GL_SHININESS, &shininess);
  EXPECT_EQ(emission[0], 0.25f);
  EXPECT_EQ(shininess, 20.0f);
  glDeleteTextures(1, &texture);
}

TEST_F(SceneTest, NodeRebuildsItsTransformOnceForSeveralChanges) {
  VGNode node;
  node.render();
  EXPECT_EQ(node.transformBuilds(), 1);
  node.setPosition(Vector3(1, 2, 3));
  node.setPosition(Vector3(4, 5, 6));
  EXPECT_TRUE(node.isDirty());
  node.render();
  node.render();
  EXPECT_EQ(node.transformBuilds(), 2);
  EXPECT_EQ(node.glTransform()[12], 4.0f);
  EXPECT_EQ(node.glTransform()[14], 6.0f);
  // The GL matrix is back as it was.
  EXPECT_EQ(currentModelView()[12], 0.0f);
}

TEST_F(SceneTest, NodeMultipliesTheGLMatrixWhileItsObjectsDraw) {
  // A render object that records the model-view matrix it is drawn under.
  struct Probe : VGAbstractRenderObject {
    std::array<float, 16> seen{};
    void render() override { seen = currentModelView(); }
  } probe;
  VGNode node;
  node.addRenderObject(&probe);
  EXPECT_EQ(probe.parent(), &node);
  node.setPosition(Vector3(1, 2, 3));
  node.setScale(2, 2, 2);
  node.render();
  EXPECT_EQ(probe.seen[0], 2.0f);
  EXPECT_EQ(probe.seen[13], 2.0f);
}

TEST_F(SceneTest, NodeRefusesNonFiniteValuesAndKeepsItsOrientationUnit) {
  VGNode node;
  EXPECT_TRUE(node.setPosition(Vector3(1, 1, 1)));
  EXPECT_FALSE(node.setPosition(Vector3(kNaN, 0, 0)));
  EXPECT_FALSE(node.setScale(1, std::numeric_limits<float>::infinity(), 1));
  EXPECT_FALSE(node.setOrientation(Quaternion(kNaN, 0, 0, 0)));
  EXPECT_FALSE(node.setOrientation(Quaternion::ZERO));
  EXPECT_EQ(node.position(), Vector3(1, 1, 1));
  EXPECT_EQ(node.scale(), Vector3::UNIT_SCALE);
  EXPECT_EQ(node.orientation(), Quaternion::IDENTITY);
  EXPECT_TRUE(node.setOrientation(Quaternion(2, 0, 2, 0)));
  EXPECT_NEAR(node.orientation().Norm(), 1.0f, 1e-6f);
  node.render();
  for (int i = 0; i < 16; i++) EXPECT_TRUE(std::isfinite(node.glTransform()[i]));
}

TEST_F(SceneTest, PerspectiveRefusesValuesThatMakeNoFrustum) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const struct {
    float fovy, aspect, zNear, zFar;
  } bad[] = {{40, 0, 1, 800},    {40, 0.66f, 0, 800},   {40, 0.66f, -1, 800},
             {40, 0.66f, 5, 5},  {kNaN, 0.66f, 1, 800}, {40, 0.66f, 1, kNaN},
             {0, 0.66f, 1, 800}, {180, 0.66f, 1, 800}};
  for (const auto& b : bad) {
    const auto lines = vgtest::loggedBy([&] { gluPerspective(b.fovy, b.aspect, b.zNear, b.zFar); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("gluPerspective"), std::string::npos) << lines[0];
    float m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    float identity[16];
    Matrix4::IDENTITY.toGL(identity);
    for (int i = 0; i < 16; i++) EXPECT_EQ(m[i], identity[i]);
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  gluPerspective(90, 1, 1, 3);
  float m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, m);
  EXPECT_NEAR(m[0], 1.0f, 1e-6f);    // near / (near * tan 45)
  EXPECT_NEAR(m[10], -2.0f, 1e-6f);  // -(far + near) / (far - near)
  EXPECT_EQ(m[11], -1.0f);
}

TEST_F(SceneTest, UnProjectCurrentAtTheCentreGivesTheNearPlaneOnTheAxis) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(40, 0.6666667f, 1, 800);
  glMatrixMode(GL_PROJECTION);  // the call must leave model-view current
  float x = 1, y = 1, z = 1;
  ASSERT_TRUE(gluUnProjectCurrent(160, 240, 0, &x, &y, &z));
  EXPECT_TRUE(near(Vector3(x, y, z), Vector3(0, 0, -1), 1e-4f));
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
}
