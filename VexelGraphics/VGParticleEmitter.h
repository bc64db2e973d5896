// Particle emitters: each step the system asks every emitter how many
// particles it wants (_getEmissionCount) and lets it fill each one
// (_initParticle).
//
// An emitter begins with its own particle body, so that it can itself be
// emitted and travel as a particle: an emitter that answers a non-null
// getEmittedEmitter() emits new emitters made by getNewEmitter() (owned by
// the system from then on) instead of pool particles.
//
// The point emitter accumulates dt x rate x rate particles per step (the
// rate squared: the behaviour the instrument's effects were tuned with) and
// emits the whole part, keeping the fraction. Counts are clamped to
// 0 .. the owning system's pool (65535 without a system); a step that makes
// the accumulator not finite emits nothing and starts it again at 0.
// A negative frame count counts as 0 (every frame is 0).
//
// The single-fire emitter emits the whole part of its rate once after each
// triggerOnNextUpdate(). The swirl emitter, once triggered with
// triggerExplosion(), moves its emission point along a helix around its
// axis that starts again every duration; a duration of 0 or less emits
// nothing.
//
// Threads: the system's thread.
#ifndef VEXELGRAPHICS_VGPARTICLEEMITTER_H
#define VEXELGRAPHICS_VGPARTICLEEMITTER_H

#include "VexelGraphics/VGParticle.h"
#include "VexelGraphics/VGVector3.h"

class VGParticleSystem;

class VGParticleEmitter : public VGParticle {
 public:
  VGParticleEmitter() = default;
  virtual ~VGParticleEmitter() = default;
  VGParticleEmitter(const VGParticleEmitter&) = delete;
  VGParticleEmitter& operator=(const VGParticleEmitter&) = delete;

  // How many particles to emit in a step of dt seconds.
  virtual int _getEmissionCount(float dt) = 0;
  virtual void _initParticle(VGParticle* particle) = 0;
  // A new emitter to emit as a particle (none: this emitter emits plain
  // particles).
  virtual VGParticleEmitter* getNewEmitter() { return nullptr; }
  virtual VGParticleEmitter* getEmittedEmitter() { return nullptr; }
};

class VGParticleEmitterPoint : public VGParticleEmitter {
 public:
  VGParticleEmitterPoint();
  virtual void initWithParticleSystem(VGParticleSystem* system);

  int _getEmissionCount(float dt) override;
  void _initParticle(VGParticle* particle) override;

  float m_emissionRate = 20.0f;
  float m_accumulator = 0.0f;
  VGColor m_color;
  Vector3 m_direction = Vector3::UNIT_Y;
  bool m_useDirection = false;
  float m_spread = 0.0f;
  float m_speed = 1.0f;
  float m_particleSize = 0.0f;
  float m_particleLife = 0.0f;
  bool m_randomFrame = false;
  int m_frameCount = 0;

 protected:
  // The point emitter's count rule for a step of dt.
  int accumulate(float dt);
  // The largest count the owning system can take.
  int largestCount() const;
};

class VGParticleEmitterPointSingleFire : public VGParticleEmitterPoint {
 public:
  int _getEmissionCount(float dt) override;
  void triggerOnNextUpdate() { m_armed = true; }

  bool m_armed = false;
};

class VGParticleEmitterPointSwirl : public VGParticleEmitterPoint {
 public:
  VGParticleEmitterPointSwirl();
  int _getEmissionCount(float dt) override;
  void _initParticle(VGParticle* particle) override;
  void triggerExplosion(float startAngle, float duration);

  float m_rise = 30.0f;
  float m_radius = 10.0f;
  float m_angularSpeed = 1.0f;  // radians per second
  Vector3 m_axis = Vector3::UNIT_Y;
  Vector3 m_arm = Vector3::UNIT_X;
  float m_startAngle = 0.0f;
  bool m_started = false;
  float m_currentRise = 0.0f;
  float m_currentAngle = 0.0f;
  Vector3 m_currentOffset;
  float m_duration = 10.0f;
  float m_elapsed = 0.0f;
};

#endif
