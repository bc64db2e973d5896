#include "VexelGraphics/VGParticleAnimator.h"

#include <algorithm>

void VGParticleAnimatorGravity::setBlendValues(float start, float end) {
  m_alphaBlend = true;
  m_alphaStart = start;
  m_alphaEnd = end;
  m_alphaRange = end - start;
}

void VGParticleAnimatorGravity::setSizeValues(float target) {
  m_sizeEasing = true;
  m_sizeTarget = target;
}

void VGParticleAnimatorGravity::_update(std::list<VGParticle*>& live, float dt) {
  for (VGParticle* p : live) {
    p->velocity += m_gravity * dt;
    if (m_alphaBlend) {
      const float alpha = p->lifetime > 0.0f
                              ? m_alphaStart + m_alphaRange / p->lifetime * (p->lifetime - p->life)
                              : m_alphaEnd;
      p->color.a = VG_byteValue(alpha);
    }
    if (m_sizeEasing) {
      const float share = p->life > dt ? dt / p->life : 1.0f;
      p->size += share * (m_sizeTarget - p->size);
    }
  }
}

void VGParticleAnimatorAttractor::_update(std::list<VGParticle*>& live, float dt) {
  for (VGParticle* p : live) {
    Vector3 toward = m_point - p->position;
    toward.normalise();
    p->velocity += toward * (dt * m_strength);
    const float keep = p->lifetime > 0.0f ? 1.0f - dt * m_alphaFadeRate / p->lifetime : 0.0f;
    p->color.a = VG_byteValue(static_cast<float>(p->color.a) * keep);
    if (m_shrinkRate > 0.0f) p->size *= std::max(0.0f, 1.0f - dt * m_shrinkRate);
  }
}
