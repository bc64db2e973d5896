// Particle renderers: the system hands them its live particles when drawn.
// Particles with alpha 5 or less are skipped; at most the capacity given at
// construction is drawn, from arrays allocated once.
//
// Billboard: one point sprite per particle (size = point size) with
// texture-coordinate replacement, textured with its own texture when it
// has one. Quad: two triangles per particle facing across its motion: side
// = reference x direction, up = side x direction, the half-width being the
// particle's size. A particle at rest counts as moving along the
// reference; when the reference and the direction are (nearly) parallel
// another perpendicular is taken, so no quad ever degenerates or turns NaN.
// The quad renderer's caller binds the texture.
//
// fill() builds the arrays without drawing (the tests read them); render()
// fills and draws. Both renderers turn lighting off and depth writes off
// (depth test on) or the depth test off, and put depth writes and test back
// on at the end. The billboard turns point sprites and texture-coordinate
// replacement off again after its points: whatever is drawn next with the
// same context keeps its texture coordinates.
//
// Threads: render() on the context's thread.
#ifndef VEXELGRAPHICS_VGPARTICLERENDERER_H
#define VEXELGRAPHICS_VGPARTICLERENDERER_H

#include <GLES/gl.h>

#include <cstdint>
#include <list>
#include <vector>

#include "VexelGraphics/VGParticle.h"
#include "VexelGraphics/VGVector3.h"

class VGParticleRenderer {
 public:
  VGParticleRenderer() = default;
  virtual ~VGParticleRenderer() = default;
  VGParticleRenderer(const VGParticleRenderer&) = delete;
  VGParticleRenderer& operator=(const VGParticleRenderer&) = delete;

  virtual void render(const std::list<VGParticle*>& live) = 0;
};

class VGParticleRendererBillboard : public VGParticleRenderer {
 public:
  explicit VGParticleRendererBillboard(int capacity);
  void render(const std::list<VGParticle*>& live) override;
  // The points drawn for these particles.
  int fill(const std::list<VGParticle*>& live);

  bool m_depth = true;
  GLuint m_texture = 0;

  int capacity() const { return capacity_; }
  const std::vector<float>& positions() const { return positions_; }
  const std::vector<float>& sizes() const { return sizes_; }
  const std::vector<std::uint8_t>& colours() const { return colours_; }

 private:
  int capacity_;
  std::vector<float> positions_;
  std::vector<float> sizes_;
  std::vector<std::uint8_t> colours_;
};

class VGParticleRendererQuad : public VGParticleRenderer {
 public:
  explicit VGParticleRendererQuad(int capacity);
  void render(const std::list<VGParticle*>& live) override;
  // The vertices (6 per particle) drawn for these particles.
  int fill(const std::list<VGParticle*>& live);

  Vector3 m_reference = Vector3::UNIT_Y;
  bool m_depth = true;

  int capacity() const { return capacity_; }
  const std::vector<float>& positions() const { return positions_; }
  const std::vector<float>& texCoords() const { return texCoords_; }
  const std::vector<std::uint8_t>& colours() const { return colours_; }

 private:
  int capacity_;
  std::vector<float> positions_;
  std::vector<float> texCoords_;
  std::vector<std::uint8_t> colours_;
};

#endif
