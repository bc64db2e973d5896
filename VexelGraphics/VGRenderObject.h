// A render object: the fixed-function state (colour or lighting with a
// material, depth writes and test, polygon offset, blending, one texture)
// around a list of meshes it does not own.
//
// render() sets its state, draws the meshes in order and then puts back
// what it changed to GL's usual state: depth writes on, depth test on,
// polygon offset off with (0, 0), blending off. Texturing, the
// texture-coordinate array and lighting stay as it left them; the next
// object sets them again.
//
// Threads: render() on the context's thread.
#ifndef VEXELGRAPHICS_VGRENDEROBJECT_H
#define VEXELGRAPHICS_VGRENDEROBJECT_H

#include <GLES/gl.h>

#include <cstdint>
#include <vector>

#include "VexelGraphics/VGAbstractRenderObject.h"
#include "VexelGraphics/VGMaterial.h"
#include "VexelGraphics/VGMesh.h"

class VGRenderObject : public VGAbstractRenderObject {
 public:
  VGRenderObject() = default;

  void render() override;

  // Appends the mesh (not owned) and makes this object its parent.
  void addMesh(VGMesh* mesh);
  const std::vector<VGMesh*>& meshes() const { return meshes_; }

  void setColor(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a);
  // Stores the texture name and turns texturing on.
  void setTexture(GLuint texture);
  GLuint texture() const { return texture_; }

  bool m_lighting = false;
  VGMaterial m_material;
  bool m_depthWrite = true;
  bool m_depthTest = true;
  bool m_polygonOffset = false;
  float m_polygonOffsetFactor = 0.0f;
  float m_polygonOffsetUnits = 0.0f;
  bool m_blending = false;
  GLenum m_srcBlend = GL_SRC_ALPHA;
  GLenum m_dstBlend = GL_ONE_MINUS_SRC_ALPHA;
  bool m_textureOn = false;
  std::uint8_t m_color[4] = {255, 255, 255, 255};

 private:
  std::vector<VGMesh*> meshes_;
  GLuint texture_ = 0;
  bool colorSet_ = false;
};

#endif
