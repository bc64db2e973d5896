// A particle system: a render object with a fixed pool of particles, the
// emitters that take particles from it each step, one animator that changes
// the live ones and one renderer that draws them.
//
// Every pool particle is in exactly one of the free list and the live list;
// moving between them splices list nodes, so a step allocates nothing.
// Emitted emitters (emitters emitted as particles) are owned by the system:
// their bodies are on the live list and in the emitted-emitter list, never
// in the pool, and they are deleted when they expire, by clear(),
// removeAllEmittedEmitters() and the destructor. The system never holds
// more emitted emitters than its pool has particles.
//
// A step of dt seconds (update): expire the particles whose life is shorter
// than dt (a life of exactly dt stays one more step) and age the others;
// animate; move; emit. Emission asks each added emitter, then each emitted
// emitter, for its count; when the free list cannot meet the whole demand
// every count is scaled by free / demand (truncated). A dt that is negative
// or not finite counts as 0.
//
// Ownership: init() takes the animator and the renderer; added emitters
// stay their caller's (removeAllEmitters() deletes them, as their owner
// asks).
//
// Threads: one thread (the context's, since render() draws).
#ifndef VEXELGRAPHICS_VGPARTICLESYSTEM_H
#define VEXELGRAPHICS_VGPARTICLESYSTEM_H

#include <cstddef>
#include <list>
#include <memory>
#include <vector>

#include "VexelGraphics/VGAbstractRenderObject.h"
#include "VexelGraphics/VGParticle.h"
#include "VexelGraphics/VGParticleAnimator.h"
#include "VexelGraphics/VGParticleEmitter.h"
#include "VexelGraphics/VGParticleRenderer.h"

class VGParticleSystem : public VGAbstractRenderObject {
 public:
  VGParticleSystem() = default;
  ~VGParticleSystem() override;

  // Takes both; grows the pool to n particles when it holds fewer.
  void init(VGParticleAnimator* animator, VGParticleRenderer* renderer, int n);
  // Grows the pool to n particles (never shrinks it).
  void increasePool(int n);

  void addEmitter(VGParticleEmitter* emitter);
  // For an owner that gives its emitters to the system to delete; the globe
  // keeps and deletes its own.
  void removeAllEmitters();
  // Every live particle back to the free list; emitted emitters deleted;
  // added emitters stay.
  void clear();
  void removeAllEmittedEmitters();

  void update(float dt);
  void render() override;

  // A particle from the free list, now at the end of the live list; none
  // when the free list is empty.
  VGParticle* createParticle();

  const std::list<VGParticle*>& liveParticles() const { return live_; }
  std::size_t freeCount() const { return free_.size(); }
  std::size_t poolSize() const { return pool_.size(); }
  std::size_t emittedEmitterCount() const { return emitted_.size(); }
  const std::vector<VGParticleEmitter*>& emitters() const { return emitters_; }
  VGParticleAnimator* animator() const { return animator_.get(); }
  VGParticleRenderer* renderer() const { return renderer_.get(); }

 private:
  void configureRenderer(std::size_t from);
  void triggerEmitters(float dt);
  void emit(VGParticleEmitter* emitter, long count, float dt);
  // Takes an emitted emitter's body off the live list and deletes it.
  void destroyEmitted(std::list<VGParticleEmitter*>::iterator which);

  std::list<VGParticle*> live_;
  std::list<VGParticle*> free_;
  std::vector<std::unique_ptr<VGParticle>> pool_;
  std::vector<VGParticleEmitter*> emitters_;
  std::list<VGParticleEmitter*> emitted_;
  std::unique_ptr<VGParticleRenderer> renderer_;
  std::unique_ptr<VGParticleAnimator> animator_;
  std::size_t requested_ = 0;
  std::vector<long> counts_;
  std::vector<long> emittedCounts_;
};

#endif
