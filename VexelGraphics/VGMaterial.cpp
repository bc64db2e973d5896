#include "VexelGraphics/VGMaterial.h"

#include <GLES/gl.h>

void VGMaterial::applyMaterial() const {
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, m_ambient);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, m_diffuse);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, m_specular);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, m_emission);
  glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, m_shininess);
}
