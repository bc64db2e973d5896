// Memoryless nonlinear tables of the waveguide instruments: the reed's
// pressure-controlled opening (ReedTabl: a line clipped to [-1, 1]), the air
// jet's saturating deflection (JetTabl: x^3 - x clipped to [-1, 1]) and the
// bow's friction (BowTabl: an inverse fourth power of the biased, scaled
// velocity, capped at 1). Owners call tick() inside their own tick; each
// keeps the value it returned as lastOutput. JetTabl is also the language
// unit generator of that name (chip/syn/ugen_syn_tables.cpp).
//
// Single precision, except BowTabl's power (double).
#ifndef CHIP_SYN_TABLES_H
#define CHIP_SYN_TABLES_H

#include "chip/syn/syn.h"

class ReedTabl : public Syn {
 public:
  ~ReedTabl() override = default;

  void setOffset(float o) { offset = o; }
  void setSlope(float s) { slope = s; }
  // offset + slope x, clipped to [-1, 1].
  float tick(float x) {
    float y = offset + slope * x;
    if (y > 1.0f) y = 1.0f;
    if (y < -1.0f) y = -1.0f;
    lastOutput = y;
    return y;
  }

  float offset = 0.6f;  // the owners set their own before the first tick
  float slope = -0.8f;
  float lastOutput = 0.0f;
};

class JetTabl : public Syn {
 public:
  ~JetTabl() override = default;

  // x (x^2 - 1), clipped to [-1, 1].
  float tick(float x) {
    float y = x * (x * x - 1.0f);
    if (y > 1.0f) y = 1.0f;
    if (y < -1.0f) y = -1.0f;
    lastOutput = y;
    return y;
  }

  float lastOutput = 0.0f;
};

class BowTabl : public Syn {
 public:
  ~BowTabl() override = default;

  void setOffset(float o) { offset = o; }
  void setSlope(float s) { slope = s; }
  // (|(x + offset) slope| + 0.75)^-4, capped at 1; always positive.
  float tick(float x);

  float offset = 0.0f;
  float slope = 3.0f;  // what Bowed sets at construction
  float lastOutput = 0.0f;
};

#endif
