// One pooled particle: a plain record that moves between its system's free
// and live lists and is never freed while the system lives. An emitter is
// itself a particle (its body), so that an emitted emitter can travel like
// one; emitterBody marks such a body.
#ifndef VEXELGRAPHICS_VGPARTICLE_H
#define VEXELGRAPHICS_VGPARTICLE_H

#include <cstdint>

#include "VexelGraphics/VGVector3.h"

class VGParticleSystem;

struct VGColor {
  std::uint8_t r = 255;
  std::uint8_t g = 255;
  std::uint8_t b = 255;
  std::uint8_t a = 255;
};

struct VGParticle {
  Vector3 position;
  VGColor color;                       // alpha 5 or less is not drawn
  float size = 0.0f;                   // half-width of a quad, point size of a sprite
  Vector3 velocity;                    // units per second
  float life = 0.0f;                   // seconds left
  float lifetime = 0.0f;               // seconds it was given
  int frame = 0;                       // texture frame (random-frame option)
  VGParticleSystem* system = nullptr;  // owner, set when taken from the pool
  int emitterBody = 0;                 // set when this is the body of an emitted emitter
};

// A float turned into a byte: clamped to 0..255 (NaN gives 0), truncated.
std::uint8_t VG_byteValue(float value);

#endif
