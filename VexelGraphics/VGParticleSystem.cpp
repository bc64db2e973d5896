#include "VexelGraphics/VGParticleSystem.h"

#include <algorithm>
#include <cmath>
#include <iterator>

VGParticleSystem::~VGParticleSystem() {
  // Emitted emitters belong to the system; the pool goes with pool_.
  live_.clear();
  for (VGParticleEmitter* emitter : emitted_) delete emitter;
  emitted_.clear();
}

void VGParticleSystem::init(VGParticleAnimator* animator, VGParticleRenderer* renderer, int n) {
  animator_.reset(animator);
  renderer_.reset(renderer);
  if (n > 0 && pool_.size() < static_cast<std::size_t>(n)) {
    requested_ = static_cast<std::size_t>(n);
    increasePool(n);
  }
}

void VGParticleSystem::increasePool(int n) {
  if (n <= 0 || static_cast<std::size_t>(n) <= pool_.size()) return;
  const std::size_t from = pool_.size();
  pool_.resize(static_cast<std::size_t>(n));
  for (std::size_t i = from; i < pool_.size(); i++) pool_[i] = std::make_unique<VGParticle>();
  configureRenderer(from);
}

void VGParticleSystem::configureRenderer(std::size_t from) {
  for (std::size_t i = from; i < pool_.size(); i++) free_.push_back(pool_[i].get());
}

void VGParticleSystem::addEmitter(VGParticleEmitter* emitter) {
  if (emitter) emitters_.push_back(emitter);
}

void VGParticleSystem::removeAllEmitters() {
  for (VGParticleEmitter* emitter : emitters_) delete emitter;
  emitters_.clear();
}

void VGParticleSystem::destroyEmitted(std::list<VGParticleEmitter*>::iterator which) {
  VGParticleEmitter* emitter = *which;
  emitted_.erase(which);
  live_.remove(static_cast<VGParticle*>(emitter));
  delete emitter;
}

void VGParticleSystem::clear() {
  // Bodies of emitted emitters are not pool particles: they leave the live
  // list with their emitters, and only pool particles return to the pool.
  while (!emitted_.empty()) destroyEmitted(emitted_.begin());
  free_.splice(free_.end(), live_);
}

void VGParticleSystem::removeAllEmittedEmitters() {
  while (!emitted_.empty()) destroyEmitted(emitted_.begin());
}

VGParticle* VGParticleSystem::createParticle() {
  if (free_.empty()) return nullptr;
  live_.splice(live_.end(), free_, free_.begin());
  VGParticle* particle = live_.back();
  particle->system = this;
  return particle;
}

void VGParticleSystem::update(float dt) {
  if (!std::isfinite(dt) || dt < 0.0f) dt = 0.0f;
  // 1. Expire. The next node is taken before the current one moves.
  for (auto it = live_.begin(); it != live_.end();) {
    auto next = std::next(it);
    VGParticle* p = *it;
    // A life that is not a number expires at once rather than never.
    if (!(p->life >= dt)) {
      auto which = p->emitterBody ? std::find(emitted_.begin(), emitted_.end(), p) : emitted_.end();
      if (which != emitted_.end()) {
        VGParticleEmitter* emitter = *which;
        emitted_.erase(which);
        live_.erase(it);
        delete emitter;
      } else {
        free_.splice(free_.end(), live_, it);
      }
    } else {
      p->life -= dt;
    }
    it = next;
  }
  // 2. Animate.
  if (animator_) animator_->_update(live_, dt);
  // 3. Move.
  for (VGParticle* p : live_) p->position += p->velocity * dt;
  // 4. Emit.
  triggerEmitters(dt);
}

void VGParticleSystem::triggerEmitters(float dt) {
  const long largest = static_cast<long>(std::max(pool_.size(), requested_));
  auto bounded = [largest](int count) { return std::clamp(static_cast<long>(count), 0L, largest); };
  counts_.resize(emitters_.size());
  long demand = 0;
  for (std::size_t i = 0; i < emitters_.size(); i++) {
    counts_[i] = bounded(emitters_[i]->_getEmissionCount(dt));
    demand += counts_[i];
  }
  // Emitted emitters that exist at the start of the step emit in it; those
  // they emit start with the next one.
  const std::size_t emittedNow = emitted_.size();
  emittedCounts_.resize(emittedNow);
  {
    std::size_t i = 0;
    for (auto it = emitted_.begin(); i < emittedNow; ++it, ++i) {
      emittedCounts_[i] = bounded((*it)->_getEmissionCount(dt));
      demand += emittedCounts_[i];
    }
  }
  double ratio = 1.0;
  const long available = static_cast<long>(free_.size());
  if (available < demand) ratio = static_cast<double>(available) / static_cast<double>(demand);
  for (std::size_t i = 0; i < emitters_.size(); i++) {
    emit(emitters_[i], static_cast<long>(ratio * static_cast<double>(counts_[i])), dt);
  }
  std::size_t i = 0;
  for (auto it = emitted_.begin(); i < emittedNow && it != emitted_.end(); ++it, ++i) {
    emit(*it, static_cast<long>(ratio * static_cast<double>(emittedCounts_[i])), dt);
  }
}

void VGParticleSystem::emit(VGParticleEmitter* emitter, long count, float dt) {
  if (count <= 0) return;
  const float step = dt / static_cast<float>(count);
  float t = 0.0f;
  for (long n = 0; n < count; n++) {
    VGParticle* particle = nullptr;
    if (emitter->getEmittedEmitter()) {
      if (emitted_.size() >= std::max(pool_.size(), requested_)) return;
      VGParticleEmitter* made = emitter->getNewEmitter();
      if (!made) return;
      made->emitterBody = 1;
      made->system = this;
      emitted_.push_back(made);
      live_.push_back(made);
      particle = made;
    } else {
      particle = createParticle();
      if (!particle) return;
    }
    emitter->_initParticle(particle);
    particle->position += particle->velocity * t;
    if (animator_) animator_->_initParticle(particle);
    t += step;
  }
}

void VGParticleSystem::render() {
  if (!live_.empty() && renderer_) renderer_->render(live_);
}
