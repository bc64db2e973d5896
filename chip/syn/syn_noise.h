// White noise of the toolkit: Noise draws a new value in [-1, 1) each
// sample from the standard library's generator; SubNoise holds each value
// for `holdLength` samples (stepped noise). Instruments and effects own
// Noise objects for breath, bow noise and random modulation; SubNoise is the
// language class of the same name (chip/syn/ugen_syn_noise.cpp).
//
// Every construction reseeds the process-wide generator with the current
// time in seconds, so two sources made within one second restart the same
// sequence (all users share the generator).
#ifndef CHIP_SYN_NOISE_H
#define CHIP_SYN_NOISE_H

#include "chip/syn/syn.h"

class Noise : public Syn {
 public:
  Noise();
  ~Noise() override = default;

  // lastOutput = (float)(2 r 2^-31) - 1 for r = rand(): a value in [-1, 1).
  virtual float tick();
  // size successive tick() values into vector; returns vector.
  virtual float* tick(float* vector, unsigned int size);

  float lastOutput = 0.0f;

 protected:
  // One fresh value into lastOutput.
  float draw();
};

class SubNoise : public Noise {
 public:
  explicit SubNoise(int length = 16);
  ~SubNoise() override = default;

  // A new value when the count passes holdLength, else the held one.
  float tick() override;
  using Noise::tick;

  // The hold length; values below 1 are ignored.
  void setRate(int length);

  int counter;
  int holdLength;
};

#endif
