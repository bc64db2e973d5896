#include "VexelGraphics/VGParticleRenderer.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr std::uint8_t kLeastDrawnAlpha = 6;

bool drawn(const VGParticle* p) { return p->color.a >= kLeastDrawnAlpha; }

void beginDepth(bool depth) {
  if (depth) {
    glDepthMask(GL_FALSE);
    glEnable(GL_DEPTH_TEST);
  } else {
    glDisable(GL_DEPTH_TEST);
  }
}

void endDepth() {
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
}

}  // namespace

VGParticleRendererBillboard::VGParticleRendererBillboard(int capacity)
    : capacity_(std::max(capacity, 0)),
      positions_(static_cast<std::size_t>(capacity_) * 3),
      sizes_(static_cast<std::size_t>(capacity_)),
      colours_(static_cast<std::size_t>(capacity_) * 4) {}

int VGParticleRendererBillboard::fill(const std::list<VGParticle*>& live) {
  int count = 0;
  for (const VGParticle* p : live) {
    if (count >= capacity_) break;
    if (!drawn(p)) continue;
    const std::size_t at = static_cast<std::size_t>(count);
    positions_[at * 3] = p->position.x;
    positions_[at * 3 + 1] = p->position.y;
    positions_[at * 3 + 2] = p->position.z;
    sizes_[at] = p->size;
    colours_[at * 4] = p->color.r;
    colours_[at * 4 + 1] = p->color.g;
    colours_[at * 4 + 2] = p->color.b;
    colours_[at * 4 + 3] = p->color.a;
    count++;
  }
  return count;
}

void VGParticleRendererBillboard::render(const std::list<VGParticle*>& live) {
  const int count = fill(live);
  if (count == 0) return;
  beginDepth(m_depth);
  glDisable(GL_LIGHTING);
  glEnable(GL_POINT_SPRITE_OES);
  glTexEnvi(GL_POINT_SPRITE_OES, GL_COORD_REPLACE_OES, GL_TRUE);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_POINT_SIZE_ARRAY_OES);
  glEnable(GL_TEXTURE_2D);
  if (m_texture != 0) glBindTexture(GL_TEXTURE_2D, m_texture);
  glVertexPointer(3, GL_FLOAT, 0, positions_.data());
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours_.data());
  glPointSizePointerOES(GL_FLOAT, 0, sizes_.data());
  glDrawArrays(GL_POINTS, 0, count);
  glDisableClientState(GL_POINT_SIZE_ARRAY_OES);
  glDisableClientState(GL_COLOR_ARRAY);
  // Point sprites and coordinate replacement are this renderer's alone:
  // left on, every later textured draw of the context (Mesa applies the
  // replacement to triangles too) samples one texel and loses its picture.
  glTexEnvi(GL_POINT_SPRITE_OES, GL_COORD_REPLACE_OES, GL_FALSE);
  glDisable(GL_POINT_SPRITE_OES);
  endDepth();
}

VGParticleRendererQuad::VGParticleRendererQuad(int capacity)
    : capacity_(std::max(capacity, 0)),
      positions_(static_cast<std::size_t>(capacity_) * 6 * 3),
      texCoords_(static_cast<std::size_t>(capacity_) * 6 * 2),
      colours_(static_cast<std::size_t>(capacity_) * 6 * 4) {}

int VGParticleRendererQuad::fill(const std::list<VGParticle*>& live) {
  static const float corners[6][2] = {{-1, -1}, {-1, 1}, {1, 1}, {-1, -1}, {1, 1}, {1, -1}};
  static const float texture[6][2] = {{0, 0}, {0, 1}, {1, 1}, {0, 0}, {1, 1}, {1, 0}};
  const std::size_t limit = static_cast<std::size_t>(capacity_) * 6;
  std::size_t filled = 0;
  for (const VGParticle* p : live) {
    if (filled >= limit) break;
    if (!drawn(p)) continue;
    Vector3 direction = p->velocity;
    if (direction.normalise() <= Vector3::kNormaliseEpsilon || !direction.isFinite()) {
      direction = m_reference.normalisedCopy();
    }
    Vector3 side = m_reference.crossProduct(direction);
    if (side.normalise() <= Vector3::kNormaliseEpsilon) side = direction.perpendicular();
    const Vector3 up = side.crossProduct(direction);
    const float s = p->size;
    for (int corner = 0; corner < 6; corner++) {
      const Vector3 v =
          p->position + side * (s * corners[corner][0]) + up * (s * corners[corner][1]);
      positions_[filled * 3] = v.x;
      positions_[filled * 3 + 1] = v.y;
      positions_[filled * 3 + 2] = v.z;
      texCoords_[filled * 2] = texture[corner][0];
      texCoords_[filled * 2 + 1] = texture[corner][1];
      colours_[filled * 4] = p->color.r;
      colours_[filled * 4 + 1] = p->color.g;
      colours_[filled * 4 + 2] = p->color.b;
      colours_[filled * 4 + 3] = p->color.a;
      filled++;
    }
  }
  return static_cast<int>(filled);
}

void VGParticleRendererQuad::render(const std::list<VGParticle*>& live) {
  const int count = fill(live);
  if (count == 0) return;
  beginDepth(m_depth);
  glDisable(GL_LIGHTING);
  // A normal array left on by a mesh would be read past its end.
  glDisableClientState(GL_NORMAL_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnable(GL_TEXTURE_2D);
  glVertexPointer(3, GL_FLOAT, 0, positions_.data());
  glTexCoordPointer(2, GL_FLOAT, 0, texCoords_.data());
  glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours_.data());
  glDrawArrays(GL_TRIANGLES, 0, count);
  glDisableClientState(GL_COLOR_ARRAY);
  endDepth();
}
