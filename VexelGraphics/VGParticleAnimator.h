// Particle animators: once per step the system hands the live particles to
// its animator, and each new particle passes its _initParticle().
//
// Gravity: velocity grows by dt x gravity; with alpha blending the alpha
// goes linearly from the start value to the end value over the particle's
// lifetime; with size easing the size moves toward the target by the share
// dt / life of the distance left (all of it on the last step, so the
// target is reached and never overshot). A particle with no lifetime takes
// the end values.
//
// Attractor: velocity grows toward the point with the given strength; alpha
// fades by dt x fade rate / lifetime per step (to 0 for no lifetime); with
// a positive shrink rate the size shrinks by that share per second.
//
// Alphas are clamped to 0..255; shrinking never turns a size negative.
//
// Threads: the system's thread.
#ifndef VEXELGRAPHICS_VGPARTICLEANIMATOR_H
#define VEXELGRAPHICS_VGPARTICLEANIMATOR_H

#include <list>

#include "VexelGraphics/VGParticle.h"
#include "VexelGraphics/VGVector3.h"

class VGParticleAnimator {
 public:
  VGParticleAnimator() = default;
  virtual ~VGParticleAnimator() = default;
  VGParticleAnimator(const VGParticleAnimator&) = delete;
  VGParticleAnimator& operator=(const VGParticleAnimator&) = delete;

  virtual void _update(std::list<VGParticle*>& live, float dt) = 0;
  virtual void _initParticle(VGParticle*) {}
};

class VGParticleAnimatorGravity : public VGParticleAnimator {
 public:
  virtual void setBlendValues(float start, float end);
  virtual void setSizeValues(float target);
  void _update(std::list<VGParticle*>& live, float dt) override;

  Vector3 m_gravity = Vector3::NEGATIVE_UNIT_Y;
  bool m_sizeEasing = false;
  bool m_alphaBlend = false;
  float m_alphaStart = 255.0f;
  float m_alphaEnd = 20.0f;
  float m_alphaRange = 20.0f - 255.0f;
  float m_sizeTarget = 0.0f;
};

class VGParticleAnimatorAttractor : public VGParticleAnimator {
 public:
  void _update(std::list<VGParticle*>& live, float dt) override;

  Vector3 m_point = Vector3::ZERO;
  float m_strength = 1.0f;
  float m_shrinkRate = 0.0f;
  float m_alphaFadeRate = 2.0f;
};

#endif
