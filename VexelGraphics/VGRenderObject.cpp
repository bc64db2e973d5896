#include "VexelGraphics/VGRenderObject.h"

void VGRenderObject::addMesh(VGMesh* mesh) {
  if (!mesh) return;
  meshes_.push_back(mesh);
  mesh->setParent(this);
}

void VGRenderObject::setColor(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
  m_color[0] = r;
  m_color[1] = g;
  m_color[2] = b;
  m_color[3] = a;
  colorSet_ = true;
}

void VGRenderObject::setTexture(GLuint texture) {
  texture_ = texture;
  m_textureOn = true;
}

void VGRenderObject::render() {
  if (meshes_.empty()) return;
  if (m_textureOn) {
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindTexture(GL_TEXTURE_2D, texture_);
  } else {
    glDisable(GL_TEXTURE_2D);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  if (m_lighting) {
    glEnable(GL_LIGHTING);
    m_material.applyMaterial();
  } else {
    glDisable(GL_LIGHTING);
    if (colorSet_) {
      glColor4ub(m_color[0], m_color[1], m_color[2], m_color[3]);
    } else {
      glColor4ub(255, 255, 255, 255);
    }
  }
  if (!m_depthWrite) glDepthMask(GL_FALSE);
  if (!m_depthTest) glDisable(GL_DEPTH_TEST);
  if (m_polygonOffset) {
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(m_polygonOffsetFactor, m_polygonOffsetUnits);
  }
  if (m_blending) {
    glEnable(GL_BLEND);
    glBlendFunc(m_srcBlend, m_dstBlend);
  }
  for (VGMesh* mesh : meshes_) mesh->render();
  if (!m_depthWrite) glDepthMask(GL_TRUE);
  if (!m_depthTest) glEnable(GL_DEPTH_TEST);
  if (m_polygonOffset) {
    glDisable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(0.0f, 0.0f);
  }
  if (m_blending) glDisable(GL_BLEND);
}
