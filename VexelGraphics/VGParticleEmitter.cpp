#include "VexelGraphics/VGParticleEmitter.h"

#include <cmath>
#include <limits>

#include "VexelGraphics/VGMath.h"
#include "VexelGraphics/VGParticleSystem.h"
#include "VexelGraphics/VGQuaternion.h"

std::uint8_t VG_byteValue(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 255.0f) return 255;
  return static_cast<std::uint8_t>(value);
}

namespace {

// dt as the emitters count it: negative or not finite is no time at all.
float usableStep(float dt) { return std::isfinite(dt) && dt > 0.0f ? dt : 0.0f; }

}  // namespace

VGParticleEmitterPoint::VGParticleEmitterPoint() {
  position = Vector3::ZERO;
  size = 5.0f;
}

void VGParticleEmitterPoint::initWithParticleSystem(VGParticleSystem* owner) { system = owner; }

int VGParticleEmitterPoint::largestCount() const {
  if (!system) return 65535;
  const std::size_t pool = system->poolSize();
  return pool > 65535 ? 65535 : static_cast<int>(pool);
}

int VGParticleEmitterPoint::accumulate(float dt) {
  if (m_emissionRate == 0.0f) return 0;
  m_accumulator += usableStep(dt) * m_emissionRate * m_emissionRate;
  if (!std::isfinite(m_accumulator) || m_accumulator < 0.0f) {
    m_accumulator = 0.0f;
    return 0;
  }
  const float whole = std::floor(m_accumulator);
  m_accumulator -= whole;
  const float largest = static_cast<float>(largestCount());
  return static_cast<int>(whole < largest ? whole : largest);
}

int VGParticleEmitterPoint::_getEmissionCount(float dt) { return accumulate(dt); }

void VGParticleEmitterPoint::_initParticle(VGParticle* p) {
  p->position = position;
  if (m_useDirection) {
    const Vector3 jitter(VGMath::symmetricRandom(), VGMath::symmetricRandom(),
                         VGMath::symmetricRandom());
    p->velocity = m_direction * m_speed + jitter * m_spread;
  } else {
    Vector3 direction(VGMath::symmetricRandom(), VGMath::symmetricRandom(),
                      VGMath::symmetricRandom());
    direction.normalise();
    p->velocity = direction * m_speed;
  }
  p->color = m_color;
  p->life = m_particleLife;
  p->lifetime = m_particleLife;
  p->size = m_particleSize;
  if (m_randomFrame) {
    const long frames = m_frameCount > 0 ? static_cast<long>(m_frameCount) + 1 : 1;
    p->frame = static_cast<int>(VGMath::randomInteger() % frames);
  }
}

int VGParticleEmitterPointSingleFire::_getEmissionCount(float) {
  if (!m_armed) return 0;
  m_armed = false;
  if (!(m_emissionRate > 0.0f)) return 0;
  const float largest = static_cast<float>(largestCount());
  return static_cast<int>(m_emissionRate < largest ? m_emissionRate : largest);
}

VGParticleEmitterPointSwirl::VGParticleEmitterPointSwirl() { m_emissionRate = 0.0f; }

void VGParticleEmitterPointSwirl::triggerExplosion(float startAngle, float duration) {
  m_started = true;
  m_startAngle = startAngle;
  m_duration = duration;
  m_elapsed = 0.0f;
}

int VGParticleEmitterPointSwirl::_getEmissionCount(float dt) {
  if (!m_started || !(m_emissionRate > 0.0f)) return 0;
  // A helix of no length has no place to emit from.
  if (!(m_duration > 0.0f) || !std::isfinite(m_duration)) return 0;
  m_elapsed += usableStep(dt);
  if (m_elapsed > m_duration) m_elapsed = 0.0f;
  m_currentAngle = m_startAngle + m_angularSpeed * m_elapsed;
  m_currentRise = (m_rise / m_duration) * m_elapsed;
  Quaternion turn;
  turn.FromAngleAxis(m_currentAngle, m_axis);
  m_currentOffset = m_axis * m_currentRise + turn * (m_arm * m_radius);
  return accumulate(dt);
}

void VGParticleEmitterPointSwirl::_initParticle(VGParticle* p) {
  VGParticleEmitterPoint::_initParticle(p);
  p->position += m_currentOffset;
}
