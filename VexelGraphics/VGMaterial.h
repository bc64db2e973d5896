// Fixed-function material colours, applied to front and back faces.
#ifndef VEXELGRAPHICS_VGMATERIAL_H
#define VEXELGRAPHICS_VGMATERIAL_H

class VGMaterial {
 public:
  float m_ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
  float m_diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
  float m_specular[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  float m_emission[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  float m_shininess = 0.0f;

  // Sets every colour and the shininess for GL_FRONT_AND_BACK.
  void applyMaterial() const;
};

#endif
